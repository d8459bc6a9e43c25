// The inbox message reader (the hub journals and applies what it accepts). No crash, one of
// message or reason, and whatever it accepts survives the app's own writer unchanged: a
// message written back and read again is the same message.
#include "model/InboxMessage.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArrayView body(reinterpret_cast<const char*>(data), qsizetype(size));
    const inbox::Parse parsed = inbox::parse(body);
    if (parsed.message.has_value() == !parsed.error.isEmpty())
        std::abort();
    if (!parsed.message)
        return 0;
    const inbox::Parse again = inbox::parse(inbox::serialize(inbox::toJson(*parsed.message)));
    if (again.message != parsed.message)
        std::abort();
    return 0;
}
