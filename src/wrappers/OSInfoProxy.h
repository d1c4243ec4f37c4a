#pragma once
// What the module needs to know about the running Windows: its version, a
// release identifier and a platform class, worked out once per object on first
// use and read-only afterwards, so one object may serve every thread.
//
// Release identifiers: 1 Windows 95, 2 Windows 98, 5 Windows Me, 3 NT 4 and
// older, 4 Windows 2000, 6 XP and Server 2003, 7 Vista, 8 Windows 7,
// 9 Windows 8, 10 Windows 8.1, 11 Windows 10 and later, 12 unknown.
// Platform classes: 0 and 1 as mapped below, 2 not known.

#include "wrappers/FileVersionInfo.h"
#include "wrappers/WinOSVersionAPI.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace Basalt {
namespace internal {

constexpr std::uint32_t kReleaseUnknown = 12;
constexpr std::uint32_t kClassUnknown = 2;

struct OSRelease {
    std::uint32_t release;
    std::uint32_t platformClass;
};

// Up to four dot-separated decimal numbers; false when the first is missing.
bool parseVersion(const std::wstring& text, std::array<std::uint32_t, 4>& numbers);
// The release and class of an NT-family version.
OSRelease mapNtVersion(std::uint32_t major, std::uint32_t minor);
// The release and class of a Windows 9x minor version.
OSRelease map9xVersion(std::uint32_t minor);
// True when `api` says the platform identifier is `platformId`.
bool isPlatform(WinOSVersionAPI& api, DWORD platformId);
// The minor version of a Windows 9x system, found by asking `api`.
std::uint32_t find9xMinorVersion(WinOSVersionAPI& api);
// IsWow64Process for the current process; false where kernel32 lacks it.
bool currentProcessIsWow64();
// Logs that the version could not be worked out (it counts as not obtained).
void reportVersionNotObtained() noexcept;

template <typename API>
class OSInfoProxy {
public:
    // Empty arguments mean the real version test and the reader of the system
    // folder's files (kernel32.dll's "ProductVersion" is the version read).
    explicit OSInfoProxy(std::shared_ptr<API> api = {}, std::shared_ptr<FileVersionInfo> systemFiles = {})
        : impl_(std::make_shared<Impl>(api ? std::move(api) : std::make_shared<API>(),
                                       systemFiles ? std::move(systemFiles)
                                                   : std::make_shared<SystemFileVersionInfo>()))
    {
    }
    virtual ~OSInfoProxy() = default;

    // 0 when not obtained.
    virtual std::uint32_t getReleaseId() { return info().obtained ? info().release : 0; }
    // kClassUnknown when not obtained.
    virtual std::uint32_t getPlatformClass() { return info().obtained ? info().platformClass : kClassUnknown; }
    // True when obtained and the release is known.
    virtual bool getVersion(std::uint32_t& major, std::uint32_t& minor)
    {
        const Info& i = info();
        if (!i.obtained || i.release == kReleaseUnknown)
            return false;
        major = i.numbers[0];
        minor = i.numbers[1];
        return true;
    }
    // 0 and kClassUnknown when not obtained.
    virtual bool getReleaseAndClass(std::uint32_t& release, std::uint32_t& platformClass)
    {
        const Info& i = info();
        release = i.obtained ? i.release : 0;
        platformClass = i.obtained ? i.platformClass : kClassUnknown;
        return i.obtained;
    }
    virtual bool isWow64() { return currentProcessIsWow64(); }
    virtual bool isNTPlatform() { return isPlatform(*impl_->api, VER_PLATFORM_WIN32_NT); }
    // Major, minor, build, revision.
    virtual bool getFullVersion(std::uint32_t& major, std::uint32_t& minor, std::uint32_t& build,
                                std::uint32_t& revision)
    {
        const Info& i = info();
        if (!i.obtained)
            return false;
        major = i.numbers[0];
        minor = i.numbers[1];
        build = i.numbers[2];
        revision = i.numbers[3];
        return true;
    }

private:
    struct Info {
        bool obtained = false;
        std::array<std::uint32_t, 4> numbers{};
        std::uint32_t release = kReleaseUnknown;
        std::uint32_t platformClass = kClassUnknown;
    };

    struct Impl {
        Impl(std::shared_ptr<API> a, std::shared_ptr<FileVersionInfo> files)
            : api(std::move(a)), systemFiles(std::move(files))
        {
        }
        std::shared_ptr<API> api;
        std::shared_ptr<FileVersionInfo> systemFiles;
        std::once_flag once;
        Info info;
    };

    const Info& info()
    {
        Impl& impl = *impl_;
        std::call_once(impl.once, [&impl] {
            try {
                compute(impl);
            } catch (...) {
                reportVersionNotObtained();
                impl.info = Info{};
            }
        });
        return impl.info;
    }

    static void compute(Impl& impl)
    {
        Info info;
        impl.systemFiles->load(L"kernel32.dll");
        if (!parseVersion(impl.systemFiles->value(FileVersionInfo::kProductVersion), info.numbers))
            return;
        info.obtained = true;
        OSRelease mapped{kReleaseUnknown, kClassUnknown};
        if (isPlatform(*impl.api, VER_PLATFORM_WIN32_WINDOWS)) {
            info.numbers[1] = find9xMinorVersion(*impl.api);
            mapped = map9xVersion(info.numbers[1]);
        } else if (isPlatform(*impl.api, VER_PLATFORM_WIN32_NT)) {
            mapped = mapNtVersion(info.numbers[0], info.numbers[1]);
        }
        info.release = mapped.release;
        info.platformClass = mapped.platformClass;
        impl.info = info;
    }

    std::shared_ptr<Impl> impl_;
};

} // namespace internal
} // namespace Basalt
