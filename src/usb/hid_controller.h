#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "usb/hid_platform.h"

namespace qk750 {

// Runs work on the user-interface thread. post() may be called from any thread;
// processPending() only on the user-interface thread, which it serves.
class UiDispatcher {
public:
    virtual ~UiDispatcher() = default;
    // Queues fn to run on the user-interface thread the next time it processes events.
    virtual void post(std::function<void()> fn) = 0;
    // Runs what has been posted so far (and what those tasks post in turn).
    virtual void processPending() = 0;
};

// The dispatcher of the command line and the tests: a queue that the thread calling
// processPending() drains.
class QueueDispatcher : public UiDispatcher {
public:
    void post(std::function<void()> fn) override;
    void processPending() override;
    // Blocks until something is queued or the timeout passes; true when something is.
    bool waitForPending(std::chrono::milliseconds timeout);
    std::size_t pendingCount() const;

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_posted;
    std::vector<std::function<void()>> m_queue;
};

class HidDevice;
class HidController;

// An event handler with an identity: copies compare equal, two handlers made separately
// do not, so "is this still the handler the controller gave" can be asked.
template <class Signature>
class HidEvent {
public:
    HidEvent() = default;
    HidEvent(std::nullptr_t) {}
    template <class F>
    requires std::is_constructible_v<std::function<Signature>, F> HidEvent(F f) {
        std::function<Signature> fn(std::move(f));
        if (fn) {
            m_fn = std::make_shared<const std::function<Signature>>(std::move(fn));
        }
    }

    explicit operator bool() const { return m_fn != nullptr; }
    bool operator==(const HidEvent& other) const { return m_fn == other.m_fn; }

    template <class... Args>
    void operator()(Args&&... args) const {
        if (m_fn) {
            (*m_fn)(std::forward<Args>(args)...);
        }
    }

private:
    std::shared_ptr<const std::function<Signature>> m_fn;
};

using HidPlugEvent = HidEvent<void(HidDevice& HidDev)>;
using HidDataEvent = HidEvent<void(HidDevice& HidDev, std::uint8_t ReportID,
                                   const std::uint8_t* Data, std::uint16_t Size)>;
using HidDataErrorEvent = HidEvent<void(HidDevice& HidDev, std::uint32_t Error)>;
using HidNotifyEvent = HidEvent<void(HidController& Sender)>;

// Raised by device creation; the controller absorbs it during enumeration.
class HidControllerError : public std::runtime_error {
public:
    HidControllerError(const std::string& message, std::uint32_t osError)
        : std::runtime_error(message), m_osError(osError) {}
    std::uint32_t osError() const { return m_osError; }

private:
    std::uint32_t m_osError;
};

// What identifies an interface and opens it.
class HidPnPInfo {
public:
    explicit HidPnPInfo(HidInterfaceInfo info) : m_info(std::move(info)) {}
    const std::string& DeviceInstance() const { return m_info.instanceId; }
    const std::string& DevicePath() const { return m_info.path; }

private:
    HidInterfaceInfo m_info;
};

// Reads input reports of one device on a thread of its own and hands each report (or
// read error) to the user-interface thread, waiting until it has been handled there.
class HidReadThread {
public:
    HidReadThread(HidDevice& device, std::size_t reportLength);
    ~HidReadThread();
    HidReadThread(const HidReadThread&) = delete;
    HidReadThread& operator=(const HidReadThread&) = delete;

    // On the user-interface thread: asks the thread to end and waits for it, meanwhile
    // running whatever the thread hands over, so a thread waiting for its handler ends.
    void stop();
    std::uint32_t LastError() const { return m_lastError.load(); }

private:
    struct Handover;
    void run();
    void handOver(std::function<void()> work);

    HidDevice& m_device;
    std::vector<std::uint8_t> m_report;
    std::atomic<bool> m_terminated{false};
    std::atomic<std::uint32_t> m_lastError{0};
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::shared_ptr<Handover> m_current;  // guarded by m_mutex
    HidHandle* m_handle = nullptr;        // guarded by m_mutex, for cancelling a read
    bool m_finished = false;              // guarded by m_mutex
    std::thread m_thread;
};

// One HID interface. Created by the controller's enumeration; claimed by the
// application; given back with release().
class HidDevice {
public:
    static constexpr std::uint32_t kMinThreadSleepTime = 10;
    static constexpr std::uint32_t kMaxThreadSleepTime = 10000;
    static constexpr std::uint32_t kDefaultThreadSleepTime = 100;

    // Opens the interface once to identify it. Throws HidControllerError.
    HidDevice(std::unique_ptr<HidPnPInfo> pnpInfo, HidController& controller);
    ~HidDevice();
    HidDevice(const HidDevice&) = delete;
    HidDevice& operator=(const HidDevice&) = delete;

    // Gives the object back: the controller puts a fresh unclaimed object in its place
    // while the interface is still there. The object is gone afterwards.
    void release();

    const HidAttributes& Attributes() const { return m_attributes; }
    HidCaps Caps();
    std::u16string ProductName();
    bool GetFeature(std::uint8_t* buffer, std::size_t length);
    bool SetFeature(const std::uint8_t* buffer, std::size_t length);
    void SetNumInputBuffers(std::uint32_t count);
    void SetNumOverlappedBuffers(std::uint32_t count);
    std::uint32_t NumInputBuffers() const { return m_numInputBuffers; }
    std::uint32_t NumOverlappedBuffers() const { return m_numOverlappedBuffers.load(); }

    void SetOnData(HidDataEvent handler);
    const HidDataEvent& OnData() const { return m_onData; }
    void SetOnDataError(HidDataErrorEvent handler) { m_onDataError = std::move(handler); }
    const HidDataErrorEvent& OnDataError() const { return m_onDataError; }
    void SetOnUnplug(HidPlugEvent handler) { m_onUnplug = std::move(handler); }
    const HidPlugEvent& OnUnplug() const { return m_onUnplug; }
    void SetThreadSleepTime(std::uint32_t ms);
    std::uint32_t ThreadSleepTime() const { return m_threadSleepTime.load(); }

    // Closes every handle; the next use opens the interface again, and the reader starts
    // again where it may run.
    void CloseHandles();

    bool IsPluggedIn() const { return m_pluggedIn; }
    bool IsClaimed() const { return m_claimed; }
    bool IsAnnouncing() const { return m_announcing; }
    bool HasReadWriteAccess() const { return m_readWriteAccess; }
    bool IsReading() const { return m_readThread != nullptr; }
    // Plugged in and either claimed or being announced: only then are handles opened.
    bool IsAccessible() const { return m_pluggedIn && (m_claimed || m_announcing); }
    const HidPnPInfo& PnPInfo() const { return *m_pnpInfo; }
    HidController* Controller() const { return m_controller; }

    // The OS error of the last failed call (0 when the object was not accessible, so
    // nothing was asked of the system), and the system's text for it.
    std::uint32_t LastError() const { return m_lastError; }
    std::string LastErrorText() const;
    std::string ErrorText(std::uint32_t error) const;

private:
    friend class HidController;
    friend class HidReadThread;

    // Opens the file handle, read-write if it can; false (and error) when it cannot.
    bool openFile(std::uint32_t& error);
    HidHandle* fileHandle();
    // Asks the handle for `count` input buffers; `count` becomes what it took.
    void applyInputBuffers(HidHandle& handle, std::uint32_t& count);
    // A feature report over the file handle, on an accessible device only.
    bool featureTransfer(const std::function<bool(HidHandle&)>& transfer);
    // Used by the reader while it runs, by the user-interface thread otherwise.
    HidHandle* overlappedReadHandle(std::uint32_t* error);
    void closeFileHandle();
    void closeHandles();
    void setClaimed();
    void startReadThreadIfAllowed();
    void stopReadThread();
    // The device has gone: handles closed, unplug handler called once.
    void markUnplugged();
    // Runs on the user-interface thread, for the reader.
    void deliverData(const std::uint8_t* report, std::size_t length);
    void deliverError(std::uint32_t error);

    HidController* m_controller;
    HidPlatform& m_platform;
    UiDispatcher& m_dispatcher;
    std::unique_ptr<HidPnPInfo> m_pnpInfo;
    bool m_pluggedIn = true;
    bool m_claimed = false;
    bool m_announcing = false;
    std::unique_ptr<HidHandle> m_file;
    std::unique_ptr<HidHandle> m_overlappedRead;
    std::unique_ptr<HidHandle> m_overlappedWrite;  // opened by nothing the program does
    HidAttributes m_attributes;
    std::u16string m_productName;
    std::optional<HidCaps> m_preparsed;
    std::uint32_t m_numInputBuffers = 0;
    std::atomic<std::uint32_t> m_numOverlappedBuffers{0};
    std::atomic<std::uint32_t> m_threadSleepTime{kDefaultThreadSleepTime};
    HidDataEvent m_onData;
    HidDataErrorEvent m_onDataError;
    HidPlugEvent m_onUnplug;
    bool m_readWriteAccess = false;
    std::uint32_t m_lastError = 0;
    std::unique_ptr<HidReadThread> m_readThread;
};

// An interface the last enumeration found but could not make a device object of.
struct SkippedInterface {
    HidInterfaceInfo info;
    std::string reason;  // "device cannot be opened" or "device cannot be identified"
    std::uint32_t osError = 0;
};

// Keeps one device object per present HID interface, re-enumerates on every device
// change and reports what came and went.
class HidController {
public:
    // Parameter of the start-up notification, and of the system's "device nodes
    // changed" broadcast.
    static constexpr std::int32_t kStartupNotification = -1;
    static constexpr std::int32_t kDevNodesChanged = 7;

    // Listens for the platform's device changes and posts the start-up pass, so the
    // first processing of events fills the list.
    HidController(HidPlatform& platform, UiDispatcher& dispatcher);
    ~HidController();
    HidController(const HidController&) = delete;
    HidController& operator=(const HidController&) = delete;

    const std::string& Version() const { return m_version; }
    bool HidAvailable() const { return m_platform.available(); }

    // Re-enumerates and reconciles the list with what is present.
    void DeviceChange();
    // What a device-change notification does: remembers its parameter and runs
    // DeviceChange unless one is already running.
    void HandleNotification(std::int32_t parameter);
    bool InChange() const { return m_inChange; }

    bool ClaimDevice(HidDevice*& device);
    bool ClaimDeviceAt(HidDevice*& device, std::size_t index);
    // Same as device->release().
    void release(HidDevice* device);

    std::size_t count() const { return m_devices.size(); }
    HidDevice* device(std::size_t index) const;
    // The interfaces the last enumeration had to skip, and why.
    const std::vector<SkippedInterface>& SkippedInterfaces() const { return m_skipped; }

    void SetOnArrival(HidPlugEvent handler) { m_onArrival = std::move(handler); }
    void SetOnRemoval(HidPlugEvent handler) { m_onRemoval = std::move(handler); }
    void SetOnDeviceChange(HidNotifyEvent handler);
    void SetOnDeviceData(HidDataEvent handler);
    void SetOnDeviceDataError(HidDataErrorEvent handler);
    void SetOnDeviceUnplug(HidPlugEvent handler);
    void SetDevThreadSleepTime(std::uint32_t ms);
    std::uint32_t DevThreadSleepTime() const { return m_devThreadSleepTime; }
    const HidDataEvent& OnDeviceData() const { return m_onDeviceData; }
    const HidDataErrorEvent& OnDeviceDataError() const { return m_onDeviceDataError; }
    const HidPlugEvent& OnDeviceUnplug() const { return m_onDeviceUnplug; }

    // While handlers are being bound at start-up, setting OnDeviceChange does not run
    // DeviceChange (the posted start-up pass will).
    void BeginLoading() { m_loading = true; }
    void EndLoading() { m_loading = false; }

    HidPlatform& platform() const { return m_platform; }
    UiDispatcher& dispatcher() const { return m_dispatcher; }

private:
    friend class HidDevice;

    std::vector<std::unique_ptr<HidDevice>> enumerate();
    void releaseDevice(HidDevice* device);
    void announce(HidDevice& device, const HidPlugEvent& event);
    void postNotification(std::int32_t parameter);

    HidPlatform& m_platform;
    UiDispatcher& m_dispatcher;
    std::string m_version = "1.0";
    HidPlugEvent m_onArrival;
    HidNotifyEvent m_onDeviceChange;
    HidDataEvent m_onDeviceData;
    HidDataErrorEvent m_onDeviceDataError;
    HidPlugEvent m_onDeviceUnplug;
    HidPlugEvent m_onRemoval;
    std::uint32_t m_devThreadSleepTime = HidDevice::kDefaultThreadSleepTime;
    std::vector<std::unique_ptr<HidDevice>> m_devices;
    std::vector<SkippedInterface> m_skipped;
    bool m_inChange = false;
    bool m_changeMissed = false;
    std::int32_t m_missedParameter = kDevNodesChanged;
    bool m_loading = false;
    std::int32_t m_notification = 0;
    // Posted notifications check it, so none runs on a destroyed controller.
    std::shared_ptr<HidController*> m_alive;
};

}  // namespace qk750
