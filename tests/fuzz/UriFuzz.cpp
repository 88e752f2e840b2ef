// Splits arbitrary bytes as an address and composes them back. Beyond not crashing,
// a split address must split again into the same parts once composed, no part may
// hold a NUL, and form-style encoding must decode back to the text.
#include "feeds/Uri.h"

#include <cstdint>
#include <cstdlib>

namespace {

void Check(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const TUri uri(input);
    const QByteArray with = uri.UrlWithCredentials();
    const QByteArray without = uri.UrlWithoutCredentials();
    (void)uri.PathAndQuery();

    if (!uri.IsSplit()) {
        Check(with == input && without == input);
    } else {
        for (const QByteArray* part : {&uri.Scheme, &uri.UserName, &uri.Password, &uri.HostName,
                                       &uri.UrlPath, &uri.ExtraInfo})
            Check(!part->contains('\0'));
        const TUri again(with);
        Check(again.IsSplit());
        Check(again.Scheme == uri.Scheme && again.HostName == uri.HostName &&
              again.Port == uri.Port && again.UrlPath == uri.UrlPath &&
              again.ExtraInfo == uri.ExtraInfo);
        if (uri.HasCredentials())
            Check(again.UserName == uri.UserName && again.Password == uri.Password);
        const TUri bare(without);
        Check(bare.IsSplit() && bare.UserName.isEmpty() && bare.Password.isEmpty());
    }

    const QByteArray decoded = TUri::PercentDecode(input);
    Check(input.contains('\0') == decoded.contains('\0'));
    // A NUL is encoded as "%00", which deliberately never decodes back.
    if (!input.contains('\0')) {
        Check(TUri::PercentDecode(TUri::PercentEncode(input)) == input);
        Check(DecodeUserInfoPart(EncodeUserInfoPart(input)) == input);
    }
    return 0;
}
