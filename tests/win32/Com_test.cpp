// The Win32 kit's COM pointer and initialisation scopes: references balanced through moves and
// queries, and every successful initialisation paired with one uninitialise.
#include "common/win32/Com.h"

#include <gtest/gtest.h>

#include <shlobj.h>

#include <thread>

namespace {

// A class factory that only counts its references.
class TCountedFactory : public IClassFactory {
  public:
    ULONG references = 1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (iid == IID_IUnknown || iid == IID_IClassFactory) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

TEST(Win32ComPtr, ReferencesStayBalanced) {
    TCountedFactory factory;
    {
        win32::TComPtr<IClassFactory> owner(&factory); // takes the first reference
        win32::TComPtr<IClassFactory> moved(std::move(owner));
        EXPECT_FALSE(owner);
        EXPECT_EQ(factory.references, 1u);

        win32::TComPtr<IUnknown> unknown;
        EXPECT_EQ(moved.As(unknown), S_OK);
        EXPECT_EQ(factory.references, 2u);
        win32::TComPtr<IShellExtInit> missing;
        EXPECT_EQ(moved.As(missing), E_NOINTERFACE);
        EXPECT_FALSE(missing);
        EXPECT_EQ(win32::TComPtr<IClassFactory>().As(unknown), E_POINTER);
        EXPECT_FALSE(unknown);
        EXPECT_EQ(factory.references, 1u);

        auto kept = win32::TComPtr<IClassFactory>::AddRefed(moved.Get());
        EXPECT_EQ(factory.references, 2u);
        EXPECT_EQ(kept->LockServer(TRUE), S_OK);
        kept.Reset();
        EXPECT_EQ(factory.references, 1u);
    }
    EXPECT_EQ(factory.references, 0u);
}

TEST(Win32ComScope, EverySuccessIsUninitialisedOnce) {
    // On a thread of its own, so that the test program's thread keeps its state.
    std::thread([] {
        {
            win32::TComScope outer(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
            EXPECT_EQ(outer.Get(), S_OK);
            win32::TComScope again(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
            EXPECT_EQ(again.Get(), S_FALSE);
            EXPECT_TRUE(again);
            win32::TComScope other(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
            EXPECT_EQ(other.Get(), RPC_E_CHANGED_MODE);
            EXPECT_FALSE(other);
        }
        // Balanced: the thread is uninitialised again, so another model is accepted now.
        win32::TComScope free(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
        EXPECT_EQ(free.Get(), S_OK);
    }).join();
    std::thread([] {
        win32::TOleScope ole(OleInitialize(nullptr));
        EXPECT_TRUE(ole);
    }).join();
}

} // namespace
