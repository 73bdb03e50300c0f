#include "usb/hid_platform_windows.h"

// clang-format off
#include <windows.h>
#include <dbt.h>
#include <setupapi.h>
#include <hidsdi.h>
#include <initguid.h>  // defines, rather than declares, the GUID of hidclass.h here
#include <hidclass.h>
// clang-format on

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "usb/hid_platform_system.h"

namespace qk750 {

namespace {

// The product string buffer. A USB string holds at most 126 wide characters, and some
// devices answer garbage when asked for more: 126 and the terminator, 254 bytes.
constexpr ULONG ProductStringBytes = 254;

// How long a feature transfer may take. A keyboard answers within milliseconds; one that
// has stopped answering must not hold the user-interface thread (the window, or a batch
// run that has yet to write its outcome) for as long as it likes.
constexpr DWORD FeatureDeadlineMs = 1000;

// From the system directory only: the program's own folder is searched first otherwise,
// and a DLL of that name put there would be loaded in place of the system's.
HMODULE loadSystemLibrary(const char* name) {
    return ::LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// Looks a function up by name; GetProcAddress's generic type goes through void(*)(),
// the one function pointer type a cast may pass through without a warning.
template <typename F>
bool resolve(HMODULE module, const char* name, F& function) {
    const FARPROC address = ::GetProcAddress(module, name);
    function = reinterpret_cast<F>(reinterpret_cast<void (*)()>(address));
    return function != nullptr;
}

// Both libraries, loaded once per process while any platform object needs them.
struct Libraries {
    HMODULE setupApi = nullptr;
    HMODULE hid = nullptr;

    // Bound at run time, so the types are those of the system headers' declarations.
    decltype(&::SetupDiGetClassDevsA) getClassDevs = nullptr;
    decltype(&::SetupDiEnumDeviceInterfaces) enumDeviceInterfaces = nullptr;
    decltype(&::SetupDiGetDeviceInterfaceDetailA) getDeviceInterfaceDetail = nullptr;
    decltype(&::SetupDiDestroyDeviceInfoList) destroyDeviceInfoList = nullptr;

    decltype(&::HidD_GetHidGuid) getHidGuid = nullptr;
    decltype(&::HidD_GetAttributes) getAttributes = nullptr;
    decltype(&::HidD_GetPreparsedData) getPreparsedData = nullptr;
    decltype(&::HidD_FreePreparsedData) freePreparsedData = nullptr;
    decltype(&::HidP_GetCaps) getCaps = nullptr;
    decltype(&::HidD_GetProductString) getProductString = nullptr;
    // Looked up so that a HID.dll without them counts as missing, as the other functions
    // do; the transfers themselves go overlapped, through DeviceIoControl.
    decltype(&::HidD_GetFeature) getFeature = nullptr;
    decltype(&::HidD_SetFeature) setFeature = nullptr;
    decltype(&::HidD_SetNumInputBuffers) setNumInputBuffers = nullptr;
    decltype(&::HidD_GetNumInputBuffers) getNumInputBuffers = nullptr;

    // What HID.dll says, else the standard HID interface class.
    GUID hidGuid = GUID_DEVINTERFACE_HID;

    Libraries() {
        setupApi = loadSystemLibrary("SetupApi.dll");
        if (setupApi &&
            !(resolve(setupApi, "SetupDiGetClassDevsA", getClassDevs) &&
              resolve(setupApi, "SetupDiEnumDeviceInterfaces", enumDeviceInterfaces) &&
              resolve(setupApi, "SetupDiGetDeviceInterfaceDetailA", getDeviceInterfaceDetail) &&
              resolve(setupApi, "SetupDiDestroyDeviceInfoList", destroyDeviceInfoList))) {
            ::FreeLibrary(setupApi);
            setupApi = nullptr;
        }
        if (!setupApi) {
            return;  // without enumeration HID.dll is of no use
        }
        hid = loadSystemLibrary("HID.dll");
        if (hid && !(resolve(hid, "HidD_GetHidGuid", getHidGuid) &&
                     resolve(hid, "HidD_GetAttributes", getAttributes) &&
                     resolve(hid, "HidD_GetPreparsedData", getPreparsedData) &&
                     resolve(hid, "HidD_FreePreparsedData", freePreparsedData) &&
                     resolve(hid, "HidP_GetCaps", getCaps) &&
                     resolve(hid, "HidD_GetProductString", getProductString) &&
                     resolve(hid, "HidD_GetFeature", getFeature) &&
                     resolve(hid, "HidD_SetFeature", setFeature) &&
                     resolve(hid, "HidD_SetNumInputBuffers", setNumInputBuffers) &&
                     resolve(hid, "HidD_GetNumInputBuffers", getNumInputBuffers))) {
            ::FreeLibrary(hid);
            hid = nullptr;
        }
        if (hid) {
            getHidGuid(&hidGuid);
        }
    }

    ~Libraries() {
        if (hid) {
            ::FreeLibrary(hid);
        }
        if (setupApi) {
            ::FreeLibrary(setupApi);
        }
    }

    Libraries(const Libraries&) = delete;
    Libraries& operator=(const Libraries&) = delete;

    bool available() const { return hid != nullptr; }

    // The process-wide instance; freed, and the libraries unloaded, with its last user.
    static std::shared_ptr<Libraries> acquire() {
        static std::mutex mutex;
        static std::weak_ptr<Libraries> shared;
        std::lock_guard lock(mutex);
        std::shared_ptr<Libraries> libraries = shared.lock();
        if (!libraries) {
            libraries = std::make_shared<Libraries>();
            shared = libraries;
        }
        return libraries;
    }
};

class WindowsHidHandle : public HidHandle {
public:
    WindowsHidHandle(std::shared_ptr<Libraries> libraries, HANDLE handle)
        : m_lib(std::move(libraries)),
          m_handle(handle),
          // Auto-reset: a cancel made before the wait begins still ends that wait.
          m_cancelEvent(::CreateEventA(nullptr, FALSE, FALSE, nullptr)),
          m_readEvent(::CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

    ~WindowsHidHandle() override {
        if (m_pending) {
            // The read still targets m_readBuffer: wait until it lets go of it.
            ::CancelIoEx(m_handle, &m_readOverlapped);
            DWORD ignored = 0;
            ::GetOverlappedResult(m_handle, &m_readOverlapped, &ignored, TRUE);
        }
        if (m_preparsed) {
            m_lib->freePreparsedData(m_preparsed);
        }
        ::CloseHandle(m_handle);
        if (m_cancelEvent) {
            ::CloseHandle(m_cancelEvent);
        }
        if (m_readEvent) {
            ::CloseHandle(m_readEvent);
        }
    }

    WindowsHidHandle(const WindowsHidHandle&) = delete;
    WindowsHidHandle& operator=(const WindowsHidHandle&) = delete;

    bool valid() const { return m_cancelEvent && m_readEvent; }

    bool getAttributes(HidAttributes& attributes) override {
        HIDD_ATTRIBUTES raw{};
        raw.Size = sizeof raw;
        if (!m_lib->getAttributes(m_handle, &raw)) {
            return failWithLastError();
        }
        attributes.VendorID = raw.VendorID;
        attributes.ProductID = raw.ProductID;
        attributes.VersionNumber = raw.VersionNumber;
        return true;
    }

    bool getCaps(HidCaps& caps) override {
        if (!m_preparsed && !m_lib->getPreparsedData(m_handle, &m_preparsed)) {
            m_preparsed = nullptr;
            return failWithLastError();
        }
        HIDP_CAPS raw{};
        if (m_lib->getCaps(m_preparsed, &raw) != HIDP_STATUS_SUCCESS) {
            m_lastError = ERROR_INVALID_DATA;
            return false;
        }
        caps.Usage = raw.Usage;
        caps.UsagePage = raw.UsagePage;
        caps.InputReportByteLength = raw.InputReportByteLength;
        caps.OutputReportByteLength = raw.OutputReportByteLength;
        caps.FeatureReportByteLength = raw.FeatureReportByteLength;
        return true;
    }

    bool getProductString(std::u16string& product) override {
        wchar_t text[ProductStringBytes / sizeof(wchar_t) + 1] = {};
        if (!m_lib->getProductString(m_handle, text, ProductStringBytes)) {
            return failWithLastError();
        }
        product.clear();
        for (std::size_t i = 0; i < ProductStringBytes / sizeof(wchar_t) && text[i] != 0; ++i) {
            product.push_back(static_cast<char16_t>(text[i]));
        }
        return true;
    }

    bool getFeature(std::uint8_t* buffer, std::size_t length) override {
        return featureTransfer(IOCTL_HID_GET_FEATURE, buffer, length, buffer);
    }

    bool setFeature(const std::uint8_t* buffer, std::size_t length) override {
        return featureTransfer(IOCTL_HID_SET_FEATURE, buffer, length, nullptr);
    }

    bool setNumInputBuffers(std::uint32_t count) override {
        if (!m_lib->setNumInputBuffers(m_handle, count)) {
            return failWithLastError();
        }
        return true;
    }

    bool getNumInputBuffers(std::uint32_t& count) override {
        ULONG value = 0;
        if (!m_lib->getNumInputBuffers(m_handle, &value)) {
            return failWithLastError();
        }
        count = value;
        return true;
    }

    // One overlapped read at a time, into a buffer of our own: a read that outlives its
    // call (timeout) stays pending and is picked up by the next call, so no report is
    // lost and the caller's buffer is never written after we returned.
    HidReadResult readInput(std::uint8_t* buffer, std::size_t length, int timeoutMs) override {
        if (!buffer || length == 0 || length > MAXDWORD) {
            m_lastError = ERROR_INVALID_PARAMETER;
            return {HidReadStatus::Error, 0};
        }
        if (!m_pending) {
            m_readBuffer.assign(length, 0);
            m_readOverlapped = OVERLAPPED{};
            m_readOverlapped.hEvent = m_readEvent;
            ::ResetEvent(m_readEvent);
            if (!::ReadFile(m_handle, m_readBuffer.data(), static_cast<DWORD>(length), nullptr,
                            &m_readOverlapped) &&
                ::GetLastError() != ERROR_IO_PENDING) {
                failWithLastError();
                return {HidReadStatus::Error, 0};
            }
            m_pending = true;  // also when it completed at once: the event is set
        }

        const HANDLE events[2] = {m_readEvent, m_cancelEvent};
        const DWORD wait = ::WaitForMultipleObjects(
            2, events, FALSE, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs));
        if (wait == WAIT_TIMEOUT) {
            return {HidReadStatus::Timeout, 0};
        }
        if (wait == WAIT_OBJECT_0 + 1) {
            // This read, whichever thread started it: the one that picks up a read left
            // pending need not be the one that started it.
            ::CancelIoEx(m_handle, &m_readOverlapped);
        } else if (wait != WAIT_OBJECT_0) {
            failWithLastError();
            return {HidReadStatus::Error, 0};
        }
        DWORD bytes = 0;
        const BOOL done = ::GetOverlappedResult(m_handle, &m_readOverlapped, &bytes, TRUE);
        m_pending = false;
        if (!done) {
            const DWORD error = ::GetLastError();
            // Cancelled: by the lines above, or by the system when the thread that started
            // a read, a reader since stopped, ended before it completed.
            if (error == ERROR_OPERATION_ABORTED) {
                return {HidReadStatus::Timeout, 0};
            }
            m_lastError = error;
            return {HidReadStatus::Error, 0};
        }
        const std::size_t n = std::min<std::size_t>(bytes, std::min(length, m_readBuffer.size()));
        std::copy(m_readBuffer.begin(), m_readBuffer.begin() + static_cast<std::ptrdiff_t>(n),
                  buffer);
        if (n == 0) {
            return {HidReadStatus::Timeout, 0};
        }
        return {HidReadStatus::Data, n};
    }

    void cancelRead() override { ::SetEvent(m_cancelEvent); }

    std::uint32_t lastError() const override { return m_lastError; }

private:
    // One feature report each way, in a buffer and with an event of the transfer's own.
    struct Transfer {
        OVERLAPPED overlapped{};
        HANDLE event = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
        std::vector<std::uint8_t> buffer;
        ~Transfer() {
            if (event) {
                ::CloseHandle(event);
            }
        }
    };

    // Overlapped, so that it can end at the deadline: past it the transfer is cancelled
    // and fails with ERROR_TIMEOUT. `reply` receives the bytes of a get request. (Wine's
    // HID driver finishes a feature request before the call returns, so under Wine only
    // the time limit of the layers below applies.)
    bool featureTransfer(DWORD code, const std::uint8_t* report, std::size_t length,
                         std::uint8_t* reply) {
        if (!report || length == 0 || length > MAXDWORD) {
            m_lastError = ERROR_INVALID_PARAMETER;
            return false;
        }
        if (!m_transfer) {
            m_transfer = std::make_unique<Transfer>();
        }
        Transfer& transfer = *m_transfer;
        if (!transfer.event) {
            return failWithLastError();
        }
        const auto size = static_cast<DWORD>(length);
        transfer.buffer.assign(report, report + length);
        transfer.overlapped = OVERLAPPED{};
        transfer.overlapped.hEvent = transfer.event;
        ::ResetEvent(transfer.event);
        DWORD bytes = 0;
        if (!::DeviceIoControl(m_handle, code, transfer.buffer.data(), size,
                               reply ? transfer.buffer.data() : nullptr, reply ? size : 0, &bytes,
                               &transfer.overlapped)) {
            if (::GetLastError() != ERROR_IO_PENDING) {
                return failWithLastError();
            }
            if (::WaitForSingleObject(transfer.event, FeatureDeadlineMs) != WAIT_OBJECT_0) {
                ::CancelIoEx(m_handle, &transfer.overlapped);
                if (::WaitForSingleObject(transfer.event, FeatureDeadlineMs) != WAIT_OBJECT_0) {
                    // A driver that does not let go of the buffer even when cancelled:
                    // it keeps this one, left to it for good, and nothing waits longer.
                    static_cast<void>(m_transfer.release());
                    m_lastError = ERROR_TIMEOUT;
                    return false;
                }
            }
        }
        if (!::GetOverlappedResult(m_handle, &transfer.overlapped, &bytes, FALSE)) {
            const DWORD error = ::GetLastError();
            m_lastError = error == ERROR_OPERATION_ABORTED ? ERROR_TIMEOUT : error;
            return false;
        }
        if (reply) {
            std::copy(transfer.buffer.begin(), transfer.buffer.end(), reply);
        }
        return true;
    }

    bool failWithLastError() {
        m_lastError = ::GetLastError();
        return false;
    }

    std::shared_ptr<Libraries> m_lib;
    HANDLE m_handle;
    HANDLE m_cancelEvent;
    HANDLE m_readEvent;
    OVERLAPPED m_readOverlapped{};
    std::vector<std::uint8_t> m_readBuffer;
    bool m_pending = false;
    PHIDP_PREPARSED_DATA m_preparsed = nullptr;
    std::unique_ptr<Transfer> m_transfer;
    std::uint32_t m_lastError = 0;
};

constexpr const char* NotifyWindowClass = "QK750HidDeviceNotify";

}  // namespace

struct HidPlatformWindows::Private {
    std::shared_ptr<Libraries> lib = Libraries::acquire();
    HWND window = nullptr;
    HDEVNOTIFY registration = nullptr;
    ChangeListener listener;
    bool inChange = false;

    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_NCCREATE) {
            const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
            ::SetWindowLongPtrA(window, GWLP_USERDATA,
                                reinterpret_cast<LONG_PTR>(create->lpCreateParams));
        }
        auto* self = reinterpret_cast<Private*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
        if (self && message == WM_DEVICECHANGE &&
            (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL ||
             wParam == DBT_DEVICEREMOVECOMPLETE)) {
            self->changed();
            // The news can come before the enumeration shows the change (seen under Wine,
            // where a keyboard's removal then went unnoticed): look once more a little
            // later. A later piece of news moves the look on.
            ::SetTimer(window, RecheckTimer, RecheckMs, nullptr);
        } else if (self && message == WM_TIMER && wParam == RecheckTimer) {
            ::KillTimer(window, RecheckTimer);
            self->changed();
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    static constexpr UINT_PTR RecheckTimer = 1;
    static constexpr UINT RecheckMs = 500;

    void changed() {
        if (!inChange && listener) {
            inChange = true;
            listener();
            inChange = false;
        }
    }

    // A hidden top-level window, never shown: DBT_DEVNODES_CHANGED is broadcast to
    // top-level windows only, so a message-only window would never hear of it.
    void createWindow() {
        const HINSTANCE instance = ::GetModuleHandleA(nullptr);
        WNDCLASSEXA windowClass{};
        windowClass.cbSize = sizeof windowClass;
        windowClass.lpfnWndProc = &Private::windowProc;
        windowClass.hInstance = instance;
        windowClass.lpszClassName = NotifyWindowClass;
        if (!::RegisterClassExA(&windowClass) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
            return;
        }
        window = ::CreateWindowExA(WS_EX_TOOLWINDOW, NotifyWindowClass, "", WS_POPUP, 0, 0, 0, 0,
                                   nullptr, nullptr, instance, this);
        // Windows broadcasts the change to every top-level window; Wine sends it only to
        // windows registered for notifications of some device interface class.
        DEV_BROADCAST_DEVICEINTERFACE_W filter{};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = lib->hidGuid;
        if (window) {
            registration =
                ::RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        }
    }
};

HidPlatformWindows::HidPlatformWindows() : m_d(std::make_unique<Private>()) {
    if (m_d->lib->available()) {
        m_d->createWindow();
    }
}

HidPlatformWindows::~HidPlatformWindows() {
    if (m_d->registration) {
        ::UnregisterDeviceNotification(m_d->registration);
    }
    if (m_d->window) {
        ::DestroyWindow(m_d->window);
    }
}

bool HidPlatformWindows::available() const {
    return m_d->lib->available();
}

std::vector<HidInterfaceInfo> HidPlatformWindows::enumerate() {
    std::vector<HidInterfaceInfo> found;
    const Libraries& lib = *m_d->lib;
    if (!lib.available()) {
        return found;
    }
    const HDEVINFO set =
        lib.getClassDevs(&lib.hidGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) {
        return found;
    }
    for (DWORD index = 0;; ++index) {
        // The size fields are the structures' sizes for the target: 28 and 28 on 32-bit,
        // 32 and 32 on 64-bit; SetupApi rejects any other value.
        SP_DEVICE_INTERFACE_DATA interfaceData{};
        interfaceData.cbSize = sizeof interfaceData;
        if (!lib.enumDeviceInterfaces(set, nullptr, &lib.hidGuid, index, &interfaceData)) {
            break;
        }
        SP_DEVINFO_DATA deviceInfo{};
        deviceInfo.cbSize = sizeof deviceInfo;
        DWORD needed = 0;
        lib.getDeviceInterfaceDetail(set, &interfaceData, nullptr, 0, &needed, &deviceInfo);
        if (needed == 0 || ::GetLastError() != ERROR_INSUFFICIENT_BUFFER) {
            continue;
        }
        // DWORD-aligned, zero-filled storage for the variable-length record.
        std::vector<DWORD> storage((needed + sizeof(DWORD) - 1) / sizeof(DWORD) + 1, 0);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(storage.data());
        // A DWORD and a CHAR[1]: 5 where the structure is packed (32-bit), 8 on 64-bit
        // where it is padded; SetupApi checks for exactly its own size.
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
        if (lib.getDeviceInterfaceDetail(set, &interfaceData, detail, needed, nullptr,
                                         &deviceInfo)) {
            found.push_back({std::to_string(deviceInfo.DevInst), detail->DevicePath});
        }
    }
    lib.destroyDeviceInfoList(set);
    return found;
}

std::unique_ptr<HidHandle> HidPlatformWindows::open(const std::string& path, HidOpenMode mode,
                                                    std::uint32_t* error) {
    DWORD access = 0;
    switch (mode) {
        case HidOpenMode::ReadWrite:
            access = GENERIC_READ | GENERIC_WRITE;
            break;
        case HidOpenMode::QueryOnly:
            break;
        case HidOpenMode::OverlappedRead:
            access = GENERIC_READ;
            break;
        case HidOpenMode::OverlappedWrite:
            access = GENERIC_WRITE;
            break;
    }
    auto fail = [error](DWORD code) -> std::unique_ptr<HidHandle> {
        if (error) {
            *error = code;
        }
        return nullptr;
    };
    if (!m_d->lib->available()) {
        return fail(ERROR_NOT_SUPPORTED);
    }
    // Every handle is overlapped, so that reads and feature transfers can end at a
    // deadline; HID.dll's queries take such handles as well.
    const HANDLE handle = ::CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return fail(::GetLastError());
    }
    auto result = std::make_unique<WindowsHidHandle>(m_d->lib, handle);
    if (!result->valid()) {
        const DWORD code = ::GetLastError();
        return fail(code);  // the handle's destructor closes the file
    }
    if (error) {
        *error = 0;
    }
    return result;
}

std::string HidPlatformWindows::errorText(std::uint32_t error) const {
    char text[512] = {};
    const DWORD length =
        ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                         0, text, sizeof text, nullptr);
    std::string message(text, length);
    // The system's texts end in a line break.
    while (!message.empty() &&
           (message.back() == '\r' || message.back() == '\n' || message.back() == ' ')) {
        message.pop_back();
    }
    if (message.empty()) {
        message = "Error " + std::to_string(error);
    }
    return message;
}

void HidPlatformWindows::setChangeListener(ChangeListener listener) {
    m_d->listener = std::move(listener);
}

std::unique_ptr<HidPlatform> CreateSystemHidPlatform() {
    return std::make_unique<HidPlatformWindows>();
}

}  // namespace qk750
