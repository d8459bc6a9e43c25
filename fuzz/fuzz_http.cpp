// The hub's HTTP request framing. The first 8 bytes of an input choose where the rest is cut
// into pieces, as TCP may deliver it; the parser must give exactly what it gives for the whole
// stream in one piece: the same requests, then the same refusal or the same wait for more.
#include "hub/HttpRequestParser.h"

#include <cstdlib>
#include <cstring>

namespace {

struct Outcome {
    QList<HttpRequest> requests;
    HttpRequestParser::Status last = HttpRequestParser::Status::NeedMore;
    int errorStatus = 0;
    QByteArray errorReason;

    bool operator==(const Outcome& other) const {
        if (requests.size() != other.requests.size() || last != other.last ||
            errorStatus != other.errorStatus || errorReason != other.errorReason)
            return false;
        for (qsizetype i = 0; i < requests.size(); ++i) {
            const HttpRequest& a = requests[i];
            const HttpRequest& b = other.requests[i];
            if (a.method != b.method || a.target != b.target || a.headers.list != b.headers.list ||
                a.body != b.body || a.keepAlive != b.keepAlive)
                return false;
        }
        return true;
    }
};

// Feeds one piece and takes every request it completes, as the hub's connection does.
void feedPiece(HttpRequestParser& parser, QByteArrayView piece, Outcome& out) {
    HttpRequestParser::Status status = parser.feed(piece);
    while (status == HttpRequestParser::Status::Ready) {
        HttpRequest request = parser.take();
        if (request.body.size() > HttpRequestParser::kMaxBody)
            std::abort();
        out.requests.append(std::move(request));
        status = parser.feed({});
    }
    out.last = status;
    if (status == HttpRequestParser::Status::Invalid) {
        out.errorStatus = parser.errorStatus();
        out.errorReason = parser.errorReason();
        if (out.errorReason.isEmpty() || out.errorReason.contains('\n'))
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quint64 seed = 0;
    const size_t seedBytes = size < 8 ? size : 8;
    std::memcpy(&seed, data, seedBytes);
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + seedBytes,
                                qsizetype(size - seedBytes));

    Outcome whole;
    HttpRequestParser one;
    feedPiece(one, stream, whole);

    Outcome pieces;
    HttpRequestParser parser;
    qsizetype pos = 0;
    while (pos < stream.size() && pieces.last != HttpRequestParser::Status::Invalid) {
        // Piece lengths of 1 to 16 bytes from the seed, then the seed turns over.
        seed = seed * 6364136223846793005ULL + 1442695040888963407ULL;
        const qsizetype length =
            qMin<qsizetype>(1 + qsizetype((seed >> 33) % 16), stream.size() - pos);
        feedPiece(parser, stream.sliced(pos, length), pieces);
        pos += length;
    }
    if (!(whole == pieces))
        std::abort();
    return 0;
}
