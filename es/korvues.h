#pragma once

// Client library of the Korvu event server (namespace korvu::es).
//
// Everything here is plain C++17 with no Qt: texts are UTF-8 std::string, ids are
// signed 64-bit. Context, Connection, Client, Object and Request are copyable
// handles; copies share one underlying object, and a default-constructed handle is
// empty until something is assigned to it. Calls on an empty handle do nothing:
// getters return zero or empty values, asynchronous calls return a finished
// Request and call nothing back.
//
// Threads: each Context runs one I/O thread of its own. Every callback of a
// Context's connections and clients runs on that thread, never inside the call
// that started the operation, so no call blocks its caller. Once the last handle
// of a Connection (or Client) is gone, none of its callbacks runs again; a
// callback that is running at that moment is waited for, unless the last handle
// is released from inside a callback.
//
// The library never logs a password.

#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace korvu::es {

namespace detail {
struct LoggerImpl;
struct ContextImpl;
struct ConnectionImpl;
struct ClientImpl;
struct ObjectData;
struct RequestState;
} // namespace detail

// ---------------------------------------------------------------------------
// Errors

// Base of every library error: a message (UTF-8) and what() returning it.
class Exception : public std::exception
{
public:
    explicit Exception(std::string message);

    const std::string &message() const noexcept;
    const char *what() const noexcept override;

private:
    std::string m_message;
};

// An error with an integer code; the message may be empty.
class Error : public Exception
{
public:
    Error(std::string message, int code);

    int code() const noexcept;

private:
    int m_code;
};

// Failure to open, or loss of, a connection.
class ConnectionError : public Error
{
public:
    using Error::Error;
};

// Failure of a request (sign-in, object retrieval) as answered by the server or
// detected by the library.
class HandlerError : public Error
{
public:
    using Error::Error;
};

// Codes of the errors the library itself raises. Codes answered by the server
// (for example a refused sign-in) are passed through unchanged.
namespace ErrorCode {
enum : int {
    NotConnected = 1001,      // the request needs an open connection
    ConnectionRefused = 1002, // nothing listens at the address
    ConnectTimeout = 1003,    // no answer within the connect time-out
    HostNotFound = 1004,      // the host name does not resolve
    ProtocolError = 1005,     // the peer sent something that is not our protocol
    ConnectionLost = 1006,    // the peer closed, stopped answering, or the network failed
    FrameTooLarge = 1007,     // the peer announced a frame above the frame size limit
    AlreadyOpen = 1008,       // open() on a connection that is open or opening
    InvalidArgument = 1009,   // empty host, port outside 1..65535, empty handle
    Closed = 1010,            // the connection was closed locally before the answer came
    NetworkError = 1011,      // any other socket error
    RequestTimeout = 1012,    // a request got no complete answer within the request time-out
};
} // namespace ErrorCode

// ---------------------------------------------------------------------------
// Logging

enum class LogLevel : int { Debug = 1, Info = 2, Warning = 3, Error = 4 };

using LogCallback = std::function<void(const std::string &message, LogLevel level)>;

// Receives the library's log lines at `level` and above. The callback runs on
// whatever thread logs, mostly the I/O thread.
class Logger
{
public:
    Logger();
    Logger(LogCallback callback, LogLevel level);

    LogLevel level() const;
    void log(LogLevel level, const std::string &message) const;

private:
    friend struct detail::ContextImpl;
    std::shared_ptr<detail::LoggerImpl> m_d;
};

// ---------------------------------------------------------------------------
// Library context: the I/O thread and the logger shared by its connections.

struct ContextOptions
{
    int connectTimeoutMs = 5000;                    // resolve + TCP connect + handshake
    int heartbeatIntervalMs = 1000;                 // a ping is sent this often
    int heartbeatTimeoutMs = 5000;                  // silence this long means the peer is gone
    int requestTimeoutMs = 15000;                   // a sign-in or fetch not answered in full by then fails
    std::size_t maxFrameSize = 16u * 1024u * 1024u; // larger frames end the connection
};

class Context
{
public:
    Context();
    explicit Context(const Logger &logger, const ContextOptions &options = ContextOptions());

    bool isNull() const;
    ContextOptions options() const;

private:
    friend class Connection;
    std::shared_ptr<detail::ContextImpl> m_d;
};

// ---------------------------------------------------------------------------
// Pending asynchronous operation.

class Request
{
public:
    Request();

    bool isNull() const;
    // True until its callback has run or the request was cancelled.
    bool isPending() const;
    // Makes sure the request's callbacks never run; an open() being cancelled
    // gives up connecting at its next step (resolved, connected).
    void cancel();

private:
    friend class Connection;
    friend class Client;
    explicit Request(std::shared_ptr<detail::RequestState> state);
    std::shared_ptr<detail::RequestState> m_d;
};

// ---------------------------------------------------------------------------
// Connection

struct ConnectionCallbacks;

class Connection
{
public:
    // Disconnected until open() succeeds; Connected until the connection is
    // closed or lost.
    enum State : int { Disconnected = 0, Connected = 2 };

    using OpenSuccess = std::function<void()>;
    using OpenError = std::function<void(const ConnectionError &error)>;

    Connection();
    Connection(const ConnectionCallbacks &callbacks, const Context &context);

    bool isNull() const;

    // Connects to host:port and performs the protocol handshake, bounded by the
    // context's connect time-out. Returns at once; later exactly one of the two
    // callbacks runs (none if the request is cancelled). When the connection is
    // up the state callback reports Connected before onSuccess runs.
    Request open(const std::string &host, int port, OpenSuccess onSuccess, OpenError onError);

    // Closes an open connection (the state callback reports Disconnected) or
    // stops an open() in progress (its error callback gets ErrorCode::Closed).
    void close();

    // Safe from any thread.
    State state() const;

private:
    friend class Client;
    std::shared_ptr<detail::ConnectionImpl> m_d;
};

struct ConnectionCallbacks
{
    // Each change of state(), new state first.
    std::function<void(Connection::State newState, Connection::State oldState)> onStateChanged;
    // Errors outside open(): how an open connection was lost.
    std::function<void(const ConnectionError &error)> onError;
};

// ---------------------------------------------------------------------------
// Values and object settings

struct Date
{
    int year = 1970;
    int month = 1;
    int day = 1;
};

struct Time
{
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
};

struct DateTime
{
    Date date;
    Time time;
};

// One typed setting value.
//
// Text forms (toString): Bool "true"/"false"; Int and Id in decimal; Float as a
// default-formatted C++ stream writes it (6 significant digits, "0.5", "1e+06");
// String itself; None empty; Data as standard base64; Date "YYYY-MM-DD";
// Time "HH:MM:SS" or "HH:MM:SS.mmm" when the milliseconds are not 0; DateTime
// "YYYY-MM-DDTHH:MM:SS[.mmm]"; Timestamp (milliseconds since 1970-01-01 UTC) as
// "YYYY-MM-DDTHH:MM:SS.mmmZ".
class Value
{
public:
    enum class Kind : int { None = 0, Bool, Int, Float, String, Id, Data, Date, Time, DateTime, Timestamp };

    Value();

    static Value fromBool(bool value);
    static Value fromInt(long long value);
    static Value fromFloat(double value);
    static Value fromString(std::string value);
    static Value fromId(long long value);
    static Value fromData(std::vector<std::uint8_t> value);
    // Out-of-range fields give a None value.
    static Value fromDate(const es::Date &value);
    static Value fromTime(const es::Time &value);
    static Value fromDateTime(const es::DateTime &value);
    static Value fromTimestamp(long long millisecondsSinceEpoch);

    Kind kind() const;
    bool isNone() const;

    // Each accessor returns its kind's value, or a zero/empty value for any other kind.
    bool toBool() const;
    long long toInt() const;
    double toFloat() const;
    long long toId() const;
    std::vector<std::uint8_t> toData() const;
    es::Date toDate() const;
    es::Time toTime() const;
    es::DateTime toDateTime() const;
    long long toTimestamp() const;

    std::string toString() const;

    bool operator==(const Value &other) const;
    bool operator!=(const Value &other) const { return !(*this == other); }

    static const char *kindName(Kind kind);

private:
    Kind m_kind = Kind::None;
    // Bool, Int, Id, Timestamp, and the packed fields of Date, Time and DateTime.
    union {
        long long m_integer = 0;
        double m_float;
    };
    std::string m_bytes; // String text or Data bytes
};

using ValuePtr = std::shared_ptr<const Value>;

// Ordered settings of an object. Names are compared exactly (case matters); setting
// an existing name replaces its value in place.
class NameValueMap
{
public:
    NameValueMap();

    void set(const std::string &name, Value value);
    bool contains(const std::string &name) const;
    std::size_t size() const;
    bool empty() const;

    std::vector<std::string> names() const;
    // None when the name is absent.
    Value value(const std::string &name) const;

    const std::vector<std::pair<std::string, Value>> &entries() const;

private:
    std::vector<std::pair<std::string, Value>> m_entries;
};

// ---------------------------------------------------------------------------
// Objects of the site tree

class DeviceObject;
class StreamObject;

class Object
{
public:
    // Type values in use; other values may come from the server.
    enum Type : int { Device = 2, Container = 7, Stream = 10 };

    Object();
    Object(long long id, long long parent, int type, std::string name, std::string className, std::string serialNumber,
           NameValueMap settings);

    bool isNull() const;

    long long id() const;
    // The parent's id; the objects at the top level have the rootId of the set.
    long long parent() const;
    const std::string &name() const;
    // The class of a live stream ends with ".live".
    const std::string &className() const;
    Type type() const;
    const NameValueMap &settings() const;

    // Empty handles when the object is of another type.
    DeviceObject toDevice() const;
    StreamObject toStream() const;

private:
    friend class DeviceObject;
    friend class StreamObject;
    std::shared_ptr<const detail::ObjectData> m_d;
};

class DeviceObject
{
public:
    DeviceObject();

    bool isNull() const;
    const std::string &serialNumber() const;
    Object object() const;
    const std::string &className() const;

private:
    friend class Object;
    std::shared_ptr<const detail::ObjectData> m_d;
};

class StreamObject
{
public:
    StreamObject();

    bool isNull() const;
    const std::string &serialNumber() const;
    Object object() const;
    const std::string &className() const;

private:
    friend class Object;
    std::shared_ptr<const detail::ObjectData> m_d;
};

// ---------------------------------------------------------------------------
// Client

struct Event
{
    long long id = 0;
    long long objectId = 0;
    int type = 0;
    long long timestamp = 0; // milliseconds since 1970-01-01 UTC
    std::string text;
};

struct ClientCallbacks
{
    // The server's object tree changed; fetch again to see it.
    std::function<void()> onObjectsChanged;
    // An event was raised, or an event raised earlier was updated.
    std::function<void(const Event &event)> onEvent;
    std::function<void(const Event &event)> onEventUpdated;
    // An object's state or one of its values changed.
    std::function<void(long long objectId, ValuePtr value)> onObjectStateChanged;
    std::function<void(long long objectId, ValuePtr value)> onObjectValueChanged;
};

class Client
{
public:
    using SignInSuccess = std::function<void(long long userId)>;
    using ObjectsSuccess = std::function<void(const std::vector<Object> &objects, long long rootId)>;
    using RequestError = std::function<void(const HandlerError &error)>;

    Client();
    Client(const ClientCallbacks &callbacks, const Connection &connection);

    bool isNull() const;

    // Each returns at once; later exactly one callback runs (none if cancelled).
    // A request in flight when the connection goes away fails with
    // ErrorCode::ConnectionLost or ErrorCode::Closed; one that is not answered in
    // full within the context's request time-out fails with
    // ErrorCode::RequestTimeout, and a late answer is ignored.
    Request signIn(const std::string &user, const std::string &password, SignInSuccess onSuccess, RequestError onError);
    // The whole object set at once, in the server's order (ids may repeat).
    Request getObjects(ObjectsSuccess onSuccess, RequestError onError);

    // The user id of the last successful sign-in on the current connection, else 0.
    long long userId() const;

private:
    std::shared_ptr<detail::ClientImpl> m_d;
};

} // namespace korvu::es
