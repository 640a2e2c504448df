#include "ui/win32/accessible_control.h"

#include <commctrl.h>
#include <oleacc.h>

#include <new>

namespace tamro::ui::win32 {

namespace {

constexpr UINT_PTR kSubclassId = 1;

// Asks the window for its texts: an object may outlive its window, and a
// gone window answers nothing.
UINT TextsMessage() {
    static const UINT message = RegisterWindowMessageW(L"TAMRO_AccessibleTexts");
    return message;
}

// The system's own object for the control, with only its name and
// description replaced.
class AccessibleControl final : public IAccessible {
public:
    AccessibleControl(HWND window, IAccessible* standard) : window_(window), standard_(standard) {}
    AccessibleControl(const AccessibleControl&) = delete;
    AccessibleControl& operator=(const AccessibleControl&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
        if (out == nullptr) return E_POINTER;
        // By __uuidof: the import library's IID_IAccessible is no GUID.
        if (iid == __uuidof(IUnknown) || iid == __uuidof(IDispatch) || iid == __uuidof(IAccessible)) {
            *out = static_cast<IAccessible*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

    // IDispatch
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override { return standard_->GetTypeInfoCount(count); }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(iid, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                                     VARIANT* result, EXCEPINFO* exception, UINT* wrongArgument) override {
        return standard_->Invoke(id, iid, locale, flags, params, result, exception, wrongArgument);
    }

    // IAccessible: the two texts of the control itself.
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* name) override {
        if (!IsSelf(child)) return standard_->get_accName(child, name);
        return Answer(&AccessibleTexts::name, name);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* description) override {
        if (!IsSelf(child)) return standard_->get_accDescription(child, description);
        return Answer(&AccessibleTexts::description, description);
    }

    // IAccessible: the rest as the system has it.
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override { return standard_->get_accParent(parent); }
    HRESULT STDMETHODCALLTYPE get_accChildCount(long* count) override { return standard_->get_accChildCount(count); }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* value) override {
        const AccessibleTexts* texts = IsSelf(child) ? Texts() : nullptr;
        if (texts == nullptr || texts->role == 0) return standard_->get_accValue(child, value);
        return Answer(&AccessibleTexts::value, value);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        const AccessibleTexts* texts = IsSelf(child) ? Texts() : nullptr;
        if (texts == nullptr || texts->role == 0 || role == nullptr) return standard_->get_accRole(child, role);
        role->vt = VT_I4;
        role->lVal = texts->role;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        const HRESULT result = standard_->get_accState(child, state);
        const AccessibleTexts* texts = IsSelf(child) ? Texts() : nullptr;
        if (SUCCEEDED(result) && texts != nullptr && state != nullptr && state->vt == VT_I4)
            state->lVal |= texts->addedStates;
        return result;
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* help) override {
        return standard_->get_accHelp(child, help);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, long* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* shortcut) override {
        return standard_->get_accKeyboardShortcut(child, shortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override { return standard_->get_accFocus(child); }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* action) override {
        return standard_->get_accDefaultAction(child, action);
    }
    HRESULT STDMETHODCALLTYPE accSelect(long flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(long* left, long* top, long* width, long* height,
                                          VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(long direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(long x, long y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR name) override {
        return standard_->put_accName(child, name);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR value) override {
        return standard_->put_accValue(child, value);
    }

private:
    ~AccessibleControl() { standard_->Release(); }

    static bool IsSelf(const VARIANT& child) { return child.vt == VT_I4 && child.lVal == CHILDID_SELF; }

    const AccessibleTexts* Texts() const {
        return reinterpret_cast<const AccessibleTexts*>(SendMessageW(window_, TextsMessage(), 0, 0));
    }

    HRESULT Answer(std::wstring AccessibleTexts::*which, BSTR* out) const {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        const AccessibleTexts* texts = Texts();
        if (texts == nullptr) return E_FAIL;  // the window is gone
        const std::wstring& text = texts->*which;
        if (text.empty()) return S_FALSE;
        *out = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        return *out != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    LONG references_ = 1;
    HWND window_;
    IAccessible* standard_;
};

LRESULT ClientObject(HWND window, WPARAM w) {
    IAccessible* standard = nullptr;
    if (FAILED(CreateStdAccessibleObject(window, OBJID_CLIENT, __uuidof(IAccessible),
                                         reinterpret_cast<void**>(&standard))))
        return 0;
    auto* object = new (std::nothrow) AccessibleControl(window, standard);
    if (object == nullptr) {
        standard->Release();
        return 0;
    }
    const LRESULT result = LresultFromObject(__uuidof(IAccessible), w, object);
    object->Release();  // the result holds its own reference
    return result;
}

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM w, LPARAM l, UINT_PTR, DWORD_PTR data) {
    if (message == WM_GETOBJECT && static_cast<LONG>(l) == OBJID_CLIENT) {
        if (const LRESULT result = ClientObject(window, w); result > 0) return result;
    } else if (message == TextsMessage()) {
        return static_cast<LRESULT>(data);
    } else if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, &ControlProc, kSubclassId);
    }
    return DefSubclassProc(window, message, w, l);
}

}  // namespace

void MakeAccessible(HWND control, const AccessibleTexts* texts) {
    SetWindowSubclass(control, &ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(texts));
}

}  // namespace tamro::ui::win32
