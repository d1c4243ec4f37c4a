#pragma once
// The lists compiled into the module: accepted signer names, the pinned root
// thumbprints and the catalog signer's thumbprint (the last two come from the
// build's trust anchors setting).

#include "trust/TrustLists.h"

namespace Orvik {
namespace trust {

const TrustLists& builtInTrustLists();

const Thumbprint& catalogSignerThumbprint();

// True when the build compiled in the test PKI's anchors instead of the maker's.
bool trustAnchorsAreForTests();

} // namespace trust
} // namespace Orvik
