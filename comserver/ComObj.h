// The in-process COM frame: server object, factory list, factory and object
// base classes. It knows nothing of the shell.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <atomic>
#include <string>

enum TClassInstancing { ciInternal, ciSingleInstance, ciMultiInstance };
enum TThreadingModel { tmSingle, tmApartment, tmFree, tmBoth, tmNeutral };

// The face of the server that factories and objects see. The two counts
// change only by interlocked operations and report the value that operation
// returned.
class TComServerObject {
public:
    virtual LONG AdjustObjectCount(bool created) = 0;
    virtual LONG AdjustFactoryCount(bool added) = 0;
    virtual std::string ServerPath() = 0;
    virtual std::string ServerKeyName() = 0;
    virtual ~TComServerObject() = default;
};

class TComObject;
class TComObjectFactory;

// "Class of the objects a factory makes": allocates one, all fields zero.
using TComObjectClass = TComObject* (*)();

// Singly linked list of factories, newest first, under a many-readers /
// one-writer lock.
class TComClassManager {
public:
    void AddFactory(TComObjectFactory* factory);
    void RemoveFactory(TComObjectFactory* factory);
    TComObjectFactory* FindFactory(REFCLSID classId);
    // Calls `action` for every factory of `server`, in list order, holding the
    // exclusive lock for the whole walk. An exception from `action` ends the
    // walk, releases the lock and passes on.
    template <typename Action>
    void VisitFactories(TComServerObject* server, Action action);

private:
    // A factory destroyed during a walk unlinks itself on the walking thread,
    // which already holds the lock (SRW locks do not nest).
    bool HeldByThisThread() const { return writer_ == GetCurrentThreadId(); }
    void LockExclusive();
    void UnlockExclusive();

    SRWLOCK lock_ = SRWLOCK_INIT;
    std::atomic<DWORD> writer_{0};
    TComObjectFactory* head_ = nullptr;
};

// The module-wide class manager, made on first use (the first factory's
// constructor); with `create` false, nullptr when there is none yet.
TComClassManager* ComClassManager(bool create = true);
// Destroys the class manager at shut-down.
void FreeComClassManager();

class TComObjectFactory : public IClassFactory {
public:
    TComObjectFactory(TComServerObject* comServer, TComObjectClass comClass, REFCLSID classId,
                      const std::string& className, const std::string& description,
                      TClassInstancing instancing, TThreadingModel threadingModel);
    virtual ~TComObjectFactory();

    // IUnknown: the factory has no count of its own; references count into
    // the server's factory count and never destroy it.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // IClassFactory
    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** ppv) override;
    STDMETHODIMP LockServer(BOOL lock) override;

    virtual std::string ClassProgId();
    virtual TComObject* CreateObject(IUnknown* outer);
    virtual void UpdateRegistration(bool doRegister);

    TComServerObject* ComServer() const { return comServer_; }
    const CLSID& ClassId() const { return classId_; }
    const std::string& ClassName() const { return className_; }
    const std::string& Description() const { return description_; }
    TClassInstancing Instancing() const { return instancing_; }
    TThreadingModel ThreadingModel() const { return threadingModel_; }

private:
    friend class TComClassManager;
    TComObjectFactory* next_ = nullptr;
    TComServerObject* comServer_;
    TComObjectClass comClass_;
    CLSID classId_;
    std::string className_;
    std::string description_;
    TClassInstancing instancing_;
    TThreadingModel threadingModel_;
};

// Base of COM objects: reference count, identity and the interface table.
// Its own IUnknown (InnerUnknown) is the non-delegating IUnknown of COM
// aggregation; every other interface delegates to the outer object when the
// object is aggregated.
class TComObject : public ISupportErrorInfo {
public:
    virtual ~TComObject();

    // Delegating IUnknown, shared by every interface but InnerUnknown.
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

    virtual void InitObject() {}
    virtual ULONG InnerAddRef();
    virtual HRESULT InnerQueryInterface(REFIID iid, void** out);
    virtual ULONG InnerRelease();

    LONG RefCount() const { return refCount_; }
    IUnknown* Controller() const { return outer_; }
    IUnknown* InnerIUnknown() { return &inner_; }

protected:
    TComObject();
    // The interface table, searched in order; nullptr when absent. Derived
    // classes put their interfaces first and then ask the base.
    virtual void* FindInterface(REFIID iid);

private:
    friend class TComObjectFactory;

    struct InnerUnknown : IUnknown {
        TComObject* owner;
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
    };

    IUnknown* outer_ = nullptr;
    TComObjectFactory* factory_ = nullptr;
    volatile LONG refCount_ = 0;
    InnerUnknown inner_;
};

// Repeats TComObject's delegating IUnknown for a class that adds interfaces of
// its own, each of which needs the same final overriders.
#define DECLARE_DELEGATING_IUNKNOWN                                                              \
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override {                           \
        return TComObject::QueryInterface(riid, ppv);                                          \
    }                                                                                          \
    STDMETHODIMP_(ULONG) AddRef() override { return TComObject::AddRef(); }                   \
    STDMETHODIMP_(ULONG) Release() override { return TComObject::Release(); }

template <typename Action>
void TComClassManager::VisitFactories(TComServerObject* server, Action action) {
    LockExclusive();
    try {
        TComObjectFactory* factory = head_;
        while (factory) {
            TComObjectFactory* next = factory->next_;  // `action` may unlink it
            if (factory->comServer_ == server) action(factory);
            factory = next;
        }
    } catch (...) {
        UnlockExclusive();
        throw;
    }
    UnlockExclusive();
}
