// The feed decoder takes whatever the feed's host sends. Besides not crashing, its outcome is
// all or nothing: a payload and no reason, or a reason and no payload.
#include "model/Payload.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView body(reinterpret_cast<const char*>(data), qsizetype(size));
    const DecodeResult result = decodePayload(body);
    if (result.payload.has_value() == !result.error.isEmpty())
        std::abort();
    return 0;
}
