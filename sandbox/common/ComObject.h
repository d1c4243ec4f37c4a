#pragma once
// IUnknown for the sandbox's COM objects: interface lookup, reference counting
// and a per-library count of live objects for DllCanUnloadNow.
//
// Derived (CRTP) is deleted directly, so the base adds no virtual slot of its
// own: an object's slot layout stays exactly that of `Interface` followed by
// whatever Derived declares.

#include <windows.h>

#include <atomic>

namespace sandbox {

template <typename Derived, typename Interface>
class ComObject : public Interface {
public:
    // Answers IUnknown and `iid` with the `Interface` part of the object.
    ComObject(const IID& iid, std::atomic<long>& liveObjects) : iid_(iid), liveObjects_(liveObjects)
    {
        ++liveObjects_;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, iid_)) {
            *out = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG left = --references_;
        if (left == 0)
            delete static_cast<Derived*>(this);
        return left;
    }

protected:
    ~ComObject() { --liveObjects_; }

private:
    const IID& iid_;
    std::atomic<long>& liveObjects_;
    std::atomic<ULONG> references_{1};
};

} // namespace sandbox
