// The update manifest decoder: no crash, and a manifest it takes always names a version and
// an archive, and an integrity field, when given, as 64 lower-case hex digits.
#include "update/UpdateInfo.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray body(reinterpret_cast<const char*>(data), qsizetype(size));
    const std::optional<UpdateInfo> info = decodeUpdateInfo(body);
    if (!info)
        return 0;
    const QByteArray& sha = info->sha256;
    const bool shaOk = sha.isEmpty() || (sha.size() == 64 && sha == sha.toLower() &&
                                         !QByteArray::fromHex(sha).isEmpty());
    if (!shaOk || !info->manifestUrl.isEmpty())
        std::abort();
    return 0;
}
