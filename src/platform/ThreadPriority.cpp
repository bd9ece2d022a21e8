#include "platform/ThreadPriority.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <dbus/dbus.h>
#include <optional>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace sonavel {

namespace {

constexpr int RaisedNice = -11;
constexpr int BusTimeoutMs = 500;
constexpr const char* Service = "org.freedesktop.RealtimeKit1";
constexpr const char* Path = "/org/freedesktop/RealtimeKit1";

// The service's calls on a private connection to the system bus.
class RealtimeKit {
public:
    RealtimeKit() {
        DBusError error;
        dbus_error_init(&error);
        m_bus = dbus_bus_get_private(DBUS_BUS_SYSTEM, &error);
        if (m_bus == nullptr)
            m_why = error.message != nullptr ? error.message : "no system bus";
        else
            dbus_connection_set_exit_on_disconnect(m_bus, false);
        dbus_error_free(&error);
    }
    ~RealtimeKit() {
        if (m_bus != nullptr) {
            dbus_connection_close(m_bus);
            dbus_connection_unref(m_bus);
        }
    }
    RealtimeKit(const RealtimeKit&) = delete;
    RealtimeKit& operator=(const RealtimeKit&) = delete;

    const std::string& Why() const { return m_why; }

    // A property of the service as a 64-bit integer; fallback when unknown.
    int64_t Property(const char* name, int64_t fallback) {
        DBusMessage* call =
            dbus_message_new_method_call(Service, Path, "org.freedesktop.DBus.Properties", "Get");
        const char* interface = Service;
        dbus_message_append_args(call, DBUS_TYPE_STRING, &interface, DBUS_TYPE_STRING, &name,
                                 DBUS_TYPE_INVALID);
        DBusMessage* reply = Send(call);
        int64_t value = fallback;
        DBusMessageIter top, variant;
        if (reply != nullptr && dbus_message_iter_init(reply, &top) &&
            dbus_message_iter_get_arg_type(&top) == DBUS_TYPE_VARIANT) {
            dbus_message_iter_recurse(&top, &variant);
            const int type = dbus_message_iter_get_arg_type(&variant);
            if (type == DBUS_TYPE_INT32) {
                dbus_int32_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
            } else if (type == DBUS_TYPE_INT64) {
                dbus_int64_t v = 0;
                dbus_message_iter_get_basic(&variant, &v);
                value = v;
            }
        }
        if (reply != nullptr)
            dbus_message_unref(reply);
        return value;
    }

    // MakeThreadRealtime(thread, priority) or MakeThreadHighPriority(thread, nice).
    bool Call(const char* method, uint64_t thread, int type, const void* level) {
        DBusMessage* call = dbus_message_new_method_call(Service, Path, Service, method);
        dbus_uint64_t id = thread;
        dbus_message_append_args(call, DBUS_TYPE_UINT64, &id, type, level, DBUS_TYPE_INVALID);
        DBusMessage* reply = Send(call);
        if (reply == nullptr)
            return false;
        dbus_message_unref(reply);
        return true;
    }

private:
    DBusMessage* Send(DBusMessage* call) {
        if (m_bus == nullptr || call == nullptr) {
            if (call != nullptr)
                dbus_message_unref(call);
            return nullptr;
        }
        DBusError error;
        dbus_error_init(&error);
        DBusMessage* reply =
            dbus_connection_send_with_reply_and_block(m_bus, call, BusTimeoutMs, &error);
        dbus_message_unref(call);
        if (reply == nullptr)
            m_why = error.message != nullptr ? error.message : "no answer";
        dbus_error_free(&error);
        return reply;
    }

    DBusConnection* m_bus = nullptr;
    std::string m_why;
};

} // namespace

std::string RaiseThreadPriority(int realtimePriority) {
    // What the system granted once it grants again: later threads go
    // straight there and do not ask the bus for what it refused.
    enum Way { Direct, KitRealtime, KitRaised, Nice, Normal };
    static std::atomic<int> s_way{Direct};
    const int from = s_way.load(std::memory_order_acquire);
    const auto granted = [](Way way, std::string what) {
        s_way.store(way, std::memory_order_release);
        return what;
    };
    const pid_t thread = static_cast<pid_t>(syscall(SYS_gettid));
    // Children never inherit it: a helper program started later stays normal.
    sched_param param{};
    param.sched_priority = realtimePriority;
    if (from <= Direct && sched_setscheduler(thread, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0)
        return granted(Direct, "realtime (SCHED_FIFO " + std::to_string(realtimePriority) + ")");
    const std::string direct = from <= Direct ? std::strerror(errno) : "not granted before";

    std::optional<RealtimeKit> kit;
    if (from <= KitRaised)
        kit.emplace();
    const int allowed =
        from <= KitRealtime ? static_cast<int>(kit->Property("MaxRealtimePriority", 0)) : 0;
    if (allowed > 0) {
        // The service grants real time only to a process that limits how long
        // it may run without sleeping, so that a runaway thread cannot freeze
        // the desktop.
        const rlim_t most = static_cast<rlim_t>(kit->Property("RTTimeUSecMax", 200000));
        rlimit limit{most, most};
        const int priority = std::min(realtimePriority, allowed);
        dbus_uint32_t level = static_cast<dbus_uint32_t>(priority);
        if (setrlimit(RLIMIT_RTTIME, &limit) == 0 &&
            kit->Call("MakeThreadRealtime", static_cast<uint64_t>(thread), DBUS_TYPE_UINT32,
                      &level))
            return granted(KitRealtime, "realtime through RealtimeKit (SCHED_RR " +
                                            std::to_string(priority) + ")");
    }
    if (kit) {
        dbus_int32_t nice =
            std::max(RaisedNice, static_cast<int>(kit->Property("MinNiceLevel", RaisedNice)));
        if (kit->Call("MakeThreadHighPriority", static_cast<uint64_t>(thread), DBUS_TYPE_INT32,
                      &nice))
            return granted(KitRaised,
                           "raised through RealtimeKit (nice " + std::to_string(nice) + ")");
    }
    if (from <= Nice && setpriority(PRIO_PROCESS, static_cast<id_t>(thread), RaisedNice) == 0)
        return granted(Nice, "raised (nice " + std::to_string(RaisedNice) + ")");
    const std::string nice = from <= Nice ? std::strerror(errno) : "not granted before";
    return granted(Normal, "normal (real time: " + direct + "; RealtimeKit: " +
                               (!kit                 ? "not granted before"
                                : kit->Why().empty() ? "refused"
                                                     : kit->Why()) +
                               "; nice: " + nice + ")");
}

} // namespace sonavel
