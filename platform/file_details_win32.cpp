#include "platform/file_details_win32.h"

// clang-format off
#include <windows.h>
#include <oleauto.h>
// clang-format on

#include <algorithm>
#include <vector>

#include "platform/utf16_win32.h"
#include "platform/win32_error.h"
#include "platform/windows_rules.h"

namespace avendro {
namespace {

constexpr int kHeaderColumns = 41;    // columns 0..40
constexpr int kReportedColumns = 36;  // columns 0..35

// Owns one reference to a COM object.
template <typename T>
class Ref {
 public:
  Ref() = default;
  ~Ref() { Reset(); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // For calls that hand out a new reference.
  T** Out() {
    Reset();
    return &p_;
  }
  void Reset() {
    if (p_ != nullptr) p_->Release();
    p_ = nullptr;
  }

 private:
  T* p_ = nullptr;
};

// Owns one VARIANT.
class Variant {
 public:
  Variant() { VariantInit(&v_); }
  ~Variant() { VariantClear(&v_); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  VARIANT* get() { return &v_; }
  VARIANT& operator*() { return v_; }

 private:
  VARIANT v_;
};

// Keeps COM initialised on this thread for one query.
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;

 private:
  HRESULT hr_;
};

VARIANT Borrowed(IDispatch* object) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_DISPATCH;
  V_DISPATCH(&v) = object;
  return v;
}

VARIANT Integer(int value) {
  VARIANT v;
  VariantInit(&v);
  V_VT(&v) = VT_I4;
  V_I4(&v) = value;
  return v;
}

std::wstring Lower(std::wstring text) {
  if (!text.empty()) CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Calls `member` of `object` by name, as a method or a property read, with
// `args` in their natural order.
HRESULT Call(IDispatch* object, const wchar_t* member, std::vector<VARIANT> args, VARIANT* result) {
  DISPID id;
  LPOLESTR names[] = {const_cast<LPOLESTR>(member)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return hr;
  std::reverse(args.begin(), args.end());  // DISPPARAMS holds them last first
  DISPPARAMS params = {args.data(), nullptr, static_cast<UINT>(args.size()), 0};
  EXCEPINFO exception;
  ZeroMemory(&exception, sizeof exception);
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET,
                      &params, result, &exception, nullptr);
  if (hr == DISP_E_EXCEPTION) {
    // The member's own failure says more than "exception occurred".
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    if (FAILED(exception.scode)) hr = exception.scode;
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
  }
  return hr;
}

// The object a call returned; E_POINTER when it returned none.
HRESULT TakeObject(Variant& result, Ref<IDispatch>* out) {
  VARIANT& v = *result;
  if ((V_VT(&v) != VT_DISPATCH && V_VT(&v) != VT_UNKNOWN) || V_UNKNOWN(&v) == nullptr) {
    return E_POINTER;
  }
  return V_UNKNOWN(&v)->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(out->Out()));
}

// The text a call returned; "" for an empty or null result.
HRESULT TakeText(Variant& result, std::wstring* out) {
  out->clear();
  VARIANT& v = *result;
  if (V_VT(&v) == VT_EMPTY || V_VT(&v) == VT_NULL) return S_OK;
  if (V_VT(&v) != VT_BSTR) {
    HRESULT hr = VariantChangeType(&v, &v, 0, VT_BSTR);
    if (FAILED(hr)) return hr;
  }
  if (V_BSTR(&v) != nullptr) out->assign(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
  return S_OK;
}

HRESULT Items(IDispatch* folder, Ref<IDispatch>* items) {
  Variant result;
  HRESULT hr = Call(folder, L"Items", {}, result.get());
  return FAILED(hr) ? hr : TakeObject(result, items);
}

HRESULT DetailsOf(IDispatch* folder, IDispatch* item, int column, std::wstring* text) {
  Variant result;
  HRESULT hr = Call(folder, L"GetDetailsOf", {Borrowed(item), Integer(column)}, result.get());
  return FAILED(hr) ? hr : TakeText(result, text);
}

// The first item of `folder` whose file is named `name`, case aside, in the order the
// shell numbers its items; none when there is no such item. The items are
// taken by number (Count, Item) rather than through _NewEnum, which Wine's
// shell object does not implement.
HRESULT FindItem(IDispatch* folder, const std::wstring& name, Ref<IDispatch>* found) {
  Ref<IDispatch> items;
  HRESULT hr = Items(folder, &items);
  if (FAILED(hr)) return hr;
  Variant count;
  hr = Call(items.get(), L"Count", {}, count.get());
  if (SUCCEEDED(hr)) hr = VariantChangeType(count.get(), count.get(), 0, VT_I4);
  if (FAILED(hr)) return hr;

  const std::wstring wanted = Lower(name);
  for (int index = 0; index < V_I4(count.get()); ++index) {
    Variant element;
    Ref<IDispatch> item;
    hr = Call(items.get(), L"Item", {Integer(index)}, element.get());
    if (SUCCEEDED(hr)) hr = TakeObject(element, &item);
    if (FAILED(hr)) return hr;
    // Name is what the shell shows, "setup" where extensions of known types
    // are hidden (Windows' default); the path keeps the whole file name.
    Variant result;
    std::wstring item_path;
    hr = Call(item.get(), L"Path", {}, result.get());
    if (SUCCEEDED(hr)) hr = TakeText(result, &item_path);
    if (FAILED(hr)) return hr;
    if (Lower(std::wstring(windows::FileNameOfPath(item_path))) == wanted) {
      *found->Out() = item.get();
      item->AddRef();
      return S_OK;
    }
  }
  return S_OK;
}

// The folder and the name joined by one separator.
std::string FilePath(const std::string& folder, const std::string& name) {
  bool separated = !folder.empty() && (folder.back() == '\\' || folder.back() == '/');
  return folder + (separated ? "" : "\\") + name;
}

// "<folder>: <member>: <reason>"
Status ShellError(const std::string& folder, const char* member, HRESULT hr) {
  return Win32Error(folder + ": " + member, static_cast<unsigned long>(hr));
}

Status QueryShell(const std::string& folder, const std::string& name,
                  std::vector<DetailColumn>* columns, bool* found) {
  std::wstring wide_folder, wide_name;
  Status status = ToUtf16(folder, &wide_folder);
  if (status.ok()) status = ToUtf16(name, &wide_name);
  if (!status.ok()) return status;

  CLSID shell_class;
  HRESULT hr = CLSIDFromProgID(L"Shell.Application", &shell_class);
  if (FAILED(hr)) return ShellError("Shell.Application", "CLSIDFromProgID", hr);
  Ref<IDispatch> shell;
  hr = CoCreateInstance(shell_class, nullptr, CLSCTX_SERVER, IID_IDispatch,
                        reinterpret_cast<void**>(shell.Out()));
  if (FAILED(hr)) return ShellError("Shell.Application", "CoCreateInstance", hr);

  Ref<IDispatch> open;
  {
    Variant path;
    V_VT(path.get()) = VT_BSTR;
    V_BSTR(path.get()) = SysAllocString(wide_folder.c_str());
    Variant result;
    hr = Call(shell.get(), L"Namespace", {*path}, result.get());
    if (SUCCEEDED(hr)) hr = TakeObject(result, &open);
    if (hr == E_POINTER) return Status::Error(folder + ": la cartella non si può aprire");
    if (FAILED(hr)) return ShellError(folder, "Namespace", hr);
  }

  std::vector<std::wstring> headers(kHeaderColumns);
  for (int column = 0; column < kHeaderColumns; ++column) {
    Ref<IDispatch> items;  // fetched afresh for every column
    hr = Items(open.get(), &items);
    if (FAILED(hr)) return ShellError(folder, "Items", hr);
    hr = DetailsOf(open.get(), items.get(), column, &headers[column]);
    if (FAILED(hr)) return ShellError(folder, "GetDetailsOf", hr);
  }

  Ref<IDispatch> item;
  hr = FindItem(open.get(), wide_name, &item);
  if (FAILED(hr)) return ShellError(folder, "Items", hr);

  std::vector<DetailColumn> result;
  for (const std::wstring& header : headers) result.emplace_back(ToUtf8(header), "");
  if (item) {
    for (int column = 0; column < kReportedColumns; ++column) {
      if (headers[column].empty()) continue;
      std::wstring value;
      hr = DetailsOf(open.get(), item.get(), column, &value);
      if (FAILED(hr)) return ShellError(FilePath(folder, name), "GetDetailsOf", hr);
      result[column].second = ToUtf8(value);
    }
  }
  *columns = std::move(result);
  *found = static_cast<bool>(item);
  return Status::Ok();
}

}  // namespace

Status Win32FileDetails::Query(const std::string& folder, const std::string& name,
                               std::vector<DetailColumn>* columns, bool* found) {
  columns->clear();
  *found = false;
  ComScope com;
  return QueryShell(folder, name, columns, found);
}

}  // namespace avendro
