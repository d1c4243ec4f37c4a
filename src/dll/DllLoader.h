#pragma once
// Loads, resolves and frees libraries through a replaceable DllAPI. A library
// the process has loaded already is handed out again (its reference raised)
// without a second check; everything else is loaded through the checked path.

#include "dll/DllAPI.h"

#include <memory>
#include <string>

namespace Orvik {

class DllLoader {
public:
    // An empty `api` means the real one.
    explicit DllLoader(std::shared_ptr<DllAPI> api = {});
    virtual ~DllLoader() = default;

    // True with a handle the caller frees through `free`.
    virtual bool loadDLL(const std::wstring& path, HMODULE* module);
    // Null, with a warning logged, when the library does not export `name`.
    virtual FARPROC getProcAddress(HMODULE module, const char* name);
    virtual bool free(HMODULE module);

private:
    std::shared_ptr<DllAPI> api_;
};

} // namespace Orvik
