// Prepares a Wine prefix (or a test machine) for the module's trust checks:
//   --root <certificate.cer>        adds a DER certificate to LocalMachine\Root
//   --policy <dll>                  registers the Authenticode time-stamp chain policy provider
//   --sip <dll>                     registers the script subject interface package
//   --com <{clsid}> <dll>           registers an in-process COM server (HKLM classes)
// Every step replaces what an earlier run left. Exit code 0 when all succeed.

#include <windows.h>
#include <wincrypt.h>
#include <mssip.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

bool readFile(const wchar_t* path, std::vector<BYTE>* bytes)
{
    HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const DWORD size = GetFileSize(file, nullptr);
    bytes->resize(size);
    DWORD read = 0;
    const BOOL ok = size == 0 || ReadFile(file, bytes->data(), size, &read, nullptr);
    CloseHandle(file);
    return ok && read == size;
}

bool addRoot(const wchar_t* path)
{
    std::vector<BYTE> der;
    if (!readFile(path, &der)) {
        fwprintf(stderr, L"cannot read %ls (%lu)\n", path, GetLastError());
        return false;
    }
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root");
    if (store == nullptr) {
        fwprintf(stderr, L"cannot open the LocalMachine Root store (%lu)\n", GetLastError());
        return false;
    }
    const BOOL ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(),
                                                     static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                     nullptr);
    if (!ok)
        fwprintf(stderr, L"cannot add %ls to the Root store (%lu)\n", path, GetLastError());
    CertCloseStore(store, 0);
    return ok != FALSE;
}

bool registerPolicy(const wchar_t* dll)
{
    if (!CryptRegisterOIDFunction(X509_ASN_ENCODING, CRYPT_OID_VERIFY_CERTIFICATE_CHAIN_POLICY_FUNC,
                                  reinterpret_cast<LPCSTR>(CERT_CHAIN_POLICY_AUTHENTICODE_TS), dll,
                                  "VerifyTimeStampChainPolicy")) {
        fwprintf(stderr, L"cannot register the time-stamp policy provider (%lu)\n", GetLastError());
        return false;
    }
    return true;
}

bool registerSip(const wchar_t* dll)
{
    HMODULE library = LoadLibraryW(dll);
    if (library == nullptr) {
        fwprintf(stderr, L"cannot load %ls (%lu)\n", dll, GetLastError());
        return false;
    }
    using SubjectFunction = const GUID* (*)();
    using AnyFunction = void (*)();
    auto subjectOf = reinterpret_cast<SubjectFunction>(
        reinterpret_cast<AnyFunction>(GetProcAddress(library, "ScriptSipSubject")));
    GUID subject = subjectOf != nullptr ? *subjectOf() : GUID{};
    FreeLibrary(library);
    if (subjectOf == nullptr) {
        fwprintf(stderr, L"%ls does not name its subject\n", dll);
        return false;
    }
    SIP_ADD_NEWPROVIDER provider{};
    provider.cbStruct = sizeof(provider);
    provider.pgSubject = &subject;
    provider.pwszDLLFileName = const_cast<wchar_t*>(dll);
    provider.pwszGetFuncName = const_cast<wchar_t*>(L"ScriptSipGetSignedDataMsg");
    provider.pwszPutFuncName = const_cast<wchar_t*>(L"ScriptSipPutSignedDataMsg");
    provider.pwszCreateFuncName = const_cast<wchar_t*>(L"ScriptSipCreateIndirectData");
    provider.pwszVerifyFuncName = const_cast<wchar_t*>(L"ScriptSipVerifyIndirectData");
    provider.pwszRemoveFuncName = const_cast<wchar_t*>(L"ScriptSipRemoveSignedDataMsg");
    provider.pwszIsFunctionNameFmt2 = const_cast<wchar_t*>(L"ScriptSipIsMyFileType2");
    if (!CryptSIPAddProvider(&provider)) {
        fwprintf(stderr, L"cannot register the script SIP (%lu)\n", GetLastError());
        return false;
    }
    return true;
}

bool setString(HKEY key, const wchar_t* name, const wchar_t* value)
{
    return RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value),
                          static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))) == ERROR_SUCCESS;
}

bool registerComServer(const wchar_t* clsid, const wchar_t* dll)
{
    const std::wstring path = std::wstring(L"Software\\Classes\\CLSID\\") + clsid + L"\\InprocServer32";
    HKEY key = nullptr;
    LONG status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) {
        fwprintf(stderr, L"cannot create %ls (%ld)\n", path.c_str(), status);
        return false;
    }
    const bool ok = setString(key, nullptr, dll) && setString(key, L"ThreadingModel", L"Both");
    RegCloseKey(key);
    if (!ok)
        fwprintf(stderr, L"cannot write %ls\n", path.c_str());
    return ok;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    bool ok = true;
    for (int i = 1; i < argc; ++i) {
        const std::wstring option = argv[i];
        if (option == L"--root" && i + 1 < argc) {
            ok = addRoot(argv[++i]) && ok;
        } else if (option == L"--policy" && i + 1 < argc) {
            ok = registerPolicy(argv[++i]) && ok;
        } else if (option == L"--sip" && i + 1 < argc) {
            ok = registerSip(argv[++i]) && ok;
        } else if (option == L"--com" && i + 2 < argc) {
            ok = registerComServer(argv[i + 1], argv[i + 2]) && ok;
            i += 2;
        } else {
            fwprintf(stderr, L"unknown or incomplete option %ls\n", argv[i]);
            return 2;
        }
    }
    return ok ? 0 : 1;
}
