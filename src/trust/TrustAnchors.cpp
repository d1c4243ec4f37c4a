#include "trust/TrustAnchors.h"

#if defined(UM_HAVE_TRUST_ANCHORS)
#include "TrustAnchorValues.h"
#else
#error "Trust anchors missing: cmake/TrustAnchors.cmake generates TrustAnchorValues.h"
#endif

namespace Orvik {
namespace trust {

namespace {

constexpr BYTE kPinnedRoots[UM_PINNED_ROOT_COUNT][kThumbprintSize] = {UM_PINNED_ROOT_THUMBPRINTS};
constexpr BYTE kCatalogSigner[kThumbprintSize] = UM_CATALOG_SIGNER_THUMBPRINT;

TrustLists makeBuiltInLists()
{
    TrustLists lists;
    lists.signerNames = std::vector<std::wstring>{L"Orvik Corporation", L"Corvane, Inc."};
    for (const auto& root : kPinnedRoots)
        lists.rootThumbprints.emplace_back(root, root + kThumbprintSize);
    return lists;
}

} // namespace

const TrustLists& builtInTrustLists()
{
    static const TrustLists lists = makeBuiltInLists();
    return lists;
}

const Thumbprint& catalogSignerThumbprint()
{
    static const Thumbprint thumbprint(kCatalogSigner, kCatalogSigner + kThumbprintSize);
    return thumbprint;
}

bool trustAnchorsAreForTests()
{
    return UM_TRUST_ANCHORS_FOR_TESTS != 0;
}

} // namespace trust
} // namespace Orvik
