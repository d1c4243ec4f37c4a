#pragma once
// Replaces path macros by their values: "$(App.Folder)" (the host executable's
// folder, with its trailing backslash), "$(App.Name)", "$(App.Binary)",
// "$(App.Path)", "$(OS.Platform)", "$(Tessel.InstallDir)" and the known
// folders "$(FOLDERID_...)". A macro is "$(" then at least one character other
// than '$', '(' and ')', then ")"; names are case-sensitive. Unknown macros and
// macros without a value stay in the path as written, and values are not
// expanded again.

#include "wrappers/OSInfoProxy.h"
#include "wrappers/RegistryAPI.h"
#include "wrappers/ShlObjAPI.h"

#include <cstddef>
#include <memory>
#include <string>

namespace Orvik {

using OSInfo = Basalt::internal::OSInfoProxy<Basalt::WinOSVersionAPI>;

namespace internal {

class PathHelpersImpl;

// The macro syntax as an ECMAScript regular expression.
extern const wchar_t kMacroPattern[];

// The leftmost match of kMacroPattern in `text` at or after `from`.
bool findMacro(const std::wstring& text, std::size_t from, std::size_t& position, std::size_t& length);

} // namespace internal

class PathHelpers {
public:
    // Empty arguments mean the real wrappers.
    explicit PathHelpers(std::shared_ptr<ShlObjAPI> shell = {}, std::shared_ptr<OSInfo> osInfo = {},
                         std::shared_ptr<RegistryAPI> registry = {});
    virtual ~PathHelpers();

    // Replaces `path` by its expansion. False (path unchanged) only when the
    // expansion could not be built at all.
    virtual bool expandMacros(std::wstring& path);

private:
    std::shared_ptr<internal::PathHelpersImpl> impl_;
};

} // namespace Orvik
