#include "comserver/ComObj.h"

#include <cstring>
#include <new>

#include "comserver/Exceptions.h"
#include "resources/Messages.h"

// ---------------------------------------------------------------------------
// TComClassManager

namespace {
TComClassManager* classManager = nullptr;
}

TComClassManager* ComClassManager(bool create) {
    // First use is the factory's constructor at start-up, inside the loader's
    // serialised process-attach notification.
    if (!classManager && create) classManager = new TComClassManager;
    return classManager;
}

void FreeComClassManager() {
    delete classManager;
    classManager = nullptr;
}

void TComClassManager::LockExclusive() {
    AcquireSRWLockExclusive(&lock_);
    writer_ = GetCurrentThreadId();
}

void TComClassManager::UnlockExclusive() {
    writer_ = 0;
    ReleaseSRWLockExclusive(&lock_);
}

void TComClassManager::AddFactory(TComObjectFactory* factory) {
    const bool nested = HeldByThisThread();
    if (!nested) LockExclusive();
    factory->next_ = head_;
    head_ = factory;
    if (!nested) UnlockExclusive();
}

void TComClassManager::RemoveFactory(TComObjectFactory* factory) {
    const bool nested = HeldByThisThread();
    if (!nested) LockExclusive();
    for (TComObjectFactory** link = &head_; *link; link = &(*link)->next_) {
        if (*link == factory) {
            *link = factory->next_;
            break;
        }
    }
    if (!nested) UnlockExclusive();
}

TComObjectFactory* TComClassManager::FindFactory(REFCLSID classId) {
    AcquireSRWLockShared(&lock_);
    TComObjectFactory* found = head_;
    while (found && !IsEqualGUID(found->classId_, classId)) found = found->next_;
    ReleaseSRWLockShared(&lock_);
    return found;
}

// ---------------------------------------------------------------------------
// TComObjectFactory

TComObjectFactory::TComObjectFactory(TComServerObject* comServer, TComObjectClass comClass,
                                     REFCLSID classId, const std::string& className,
                                     const std::string& description, TClassInstancing instancing,
                                     TThreadingModel threadingModel)
    : comServer_(comServer),
      comClass_(comClass),
      classId_(classId),
      className_(className),
      description_(description),
      instancing_(instancing),
      threadingModel_(threadingModel) {
    // Entered into the list only once every field is set: a FindFactory on
    // another thread never meets a half-made factory, and a failed copy of
    // the texts leaves no link behind.
    ComClassManager()->AddFactory(this);
}

TComObjectFactory::~TComObjectFactory() {
    if (TComClassManager* manager = ComClassManager(false)) manager->RemoveFactory(this);
}

STDMETHODIMP TComObjectFactory::QueryInterface(REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (IsEqualGUID(riid, IID_IClassFactory) || IsEqualGUID(riid, IID_IUnknown)) {
        *ppv = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) TComObjectFactory::AddRef() {
    return static_cast<ULONG>(comServer_->AdjustFactoryCount(true));
}

STDMETHODIMP_(ULONG) TComObjectFactory::Release() {
    return static_cast<ULONG>(comServer_->AdjustFactoryCount(false));
}

namespace {

// The failed construction's message box: a message whose last character
// lies above "." gains a period. Must not throw: it runs on the way out of
// CreateInstance.
void ShowConstructionError(const char* message) noexcept {
    const char* text = message;
    std::string withPeriod;
    const size_t length = std::strlen(message);
    if (length > 0 && static_cast<unsigned char>(message[length - 1]) > '.') {
        try {
            withPeriod.assign(message, length);
            withPeriod += '.';
            text = withPeriod.c_str();
        } catch (...) {
            // Out of memory for one more byte: show the message as it is.
        }
    }
    MessageBoxA(nullptr, text, Messages::CaptionObjectError,
                MB_OK | MB_ICONSTOP | MB_SETFOREGROUND);
}

}  // namespace

STDMETHODIMP TComObjectFactory::CreateInstance(IUnknown* outer, REFIID riid, void** ppv) {
    if (!ppv) return E_POINTER;
    *ppv = nullptr;
    if (outer && !IsEqualGUID(riid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;

    TComObject* object = nullptr;
    try {
        object = CreateObject(outer);
    } catch (const Exception& e) {
        ShowConstructionError(e.Message().c_str());
        return E_UNEXPECTED;
    } catch (const std::bad_alloc&) {
        ShowConstructionError(Messages::OutOfMemory);
        return E_UNEXPECTED;
    } catch (const std::exception& e) {
        ShowConstructionError(e.what());
        return E_UNEXPECTED;
    } catch (...) {
        ShowConstructionError("");
        return E_UNEXPECTED;
    }

    HRESULT hr = E_UNEXPECTED;
    try {
        hr = object->InnerQueryInterface(riid, ppv);
    } catch (...) {
        *ppv = nullptr;
    }
    if (object->refCount_ == 0) delete object;  // the query failed
    return hr;
}

STDMETHODIMP TComObjectFactory::LockServer(BOOL lock) {
    const HRESULT hr = CoLockObjectExternal(static_cast<IClassFactory*>(this), lock, TRUE);
    comServer_->AdjustObjectCount(lock != FALSE);
    return hr;
}

std::string TComObjectFactory::ClassProgId() {
    return className_.empty() ? std::string() : className_;
}

TComObject* TComObjectFactory::CreateObject(IUnknown* outer) {
    TComObject* object = comClass_();
    object->refCount_ = 1;
    object->factory_ = this;
    object->outer_ = outer;  // the controller is held without a reference
    comServer_->AdjustObjectCount(true);
    try {
        object->InitObject();
    } catch (...) {
        delete object;
        throw;
    }
    object->refCount_ = 0;
    return object;
}

// ---------------------------------------------------------------------------
// TComObject

TComObject::TComObject() {
    inner_.owner = this;
}

TComObject::~TComObject() {
    if (factory_) factory_->ComServer()->AdjustObjectCount(false);
}

void* TComObject::FindInterface(REFIID iid) {
    if (IsEqualGUID(iid, IID_ISupportErrorInfo)) return static_cast<ISupportErrorInfo*>(this);
    if (IsEqualGUID(iid, IID_IUnknown)) return static_cast<IUnknown*>(&inner_);
    return nullptr;
}

HRESULT TComObject::InnerQueryInterface(REFIID iid, void** out) {
    if (!out) return E_POINTER;
    *out = nullptr;
    void* found = FindInterface(iid);
    if (!found) return E_NOINTERFACE;
    *out = found;
    // AddRef through the very pointer handed out: for an aggregated object
    // this reaches the controller, except for the inner IUnknown.
    static_cast<IUnknown*>(found)->AddRef();
    return S_OK;
}

ULONG TComObject::InnerAddRef() {
    return static_cast<ULONG>(InterlockedIncrement(&refCount_));
}

ULONG TComObject::InnerRelease() {
    const LONG count = InterlockedDecrement(&refCount_);
    if (count == 0) delete this;
    return static_cast<ULONG>(count);
}

STDMETHODIMP TComObject::QueryInterface(REFIID riid, void** ppv) {
    if (outer_) return outer_->QueryInterface(riid, ppv);
    try {
        return InnerQueryInterface(riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP_(ULONG) TComObject::AddRef() {
    return outer_ ? outer_->AddRef() : InnerAddRef();
}

STDMETHODIMP_(ULONG) TComObject::Release() {
    return outer_ ? outer_->Release() : InnerRelease();
}

STDMETHODIMP TComObject::InterfaceSupportsErrorInfo(REFIID riid) {
    try {
        return FindInterface(riid) ? S_OK : S_FALSE;
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP TComObject::InnerUnknown::QueryInterface(REFIID riid, void** ppv) {
    try {
        return owner->InnerQueryInterface(riid, ppv);
    } catch (...) {
        return E_UNEXPECTED;
    }
}

STDMETHODIMP_(ULONG) TComObject::InnerUnknown::AddRef() {
    return owner->InnerAddRef();
}

STDMETHODIMP_(ULONG) TComObject::InnerUnknown::Release() {
    return owner->InnerRelease();
}
