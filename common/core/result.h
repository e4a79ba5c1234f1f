#pragma once
// The outcome of a step that may fail for a reason the user is told: on
// success the value it made (nothing for Result<>), on failure the message
// saying why, ready for a message box or a log line.
//
//   Result<> WriteX(...)       done, or why not
//   Result<T> ReadX(...)       what was read, or why not
//   Result<> CheckX(...)       allowed, or the refusal: a check made before
//                              any work, which changes nothing
//
//   return value;                          success (Result<T>)
//   return {};                             success (Result<>)
//   return Fail(QStringLiteral("..."));    failure
//
//   const Result<QStringList> lines = ReadX(path);
//   if (!lines)
//       return Fail(lines.error());
//   use(*lines);

#include <QString>

#include <optional>
#include <utility>

// A failure on its way into a Result of any type.
struct Failure {
    QString message;
};
inline Failure Fail(QString message) {
    return Failure{std::move(message)};
}

template <typename T = void> class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : error_(std::move(failure.message)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The message of a failure; empty on success.
    const QString& error() const { return error_; }

    // The value of a success (only then).
    T& value() & { return *value_; }
    const T& value() const& { return *value_; }
    T&& value() && { return std::move(*value_); }
    T& operator*() & { return *value_; }
    const T& operator*() const& { return *value_; }
    T&& operator*() && { return std::move(*value_); }
    T* operator->() { return &*value_; }
    const T* operator->() const { return &*value_; }

private:
    std::optional<T> value_;
    QString error_;
};

template <> class [[nodiscard]] Result<void> {
public:
    Result() = default;
    Result(Failure failure) : ok_(false), error_(std::move(failure.message)) {}

    bool ok() const { return ok_; }
    explicit operator bool() const { return ok_; }
    const QString& error() const { return error_; }

private:
    bool ok_ = true;
    QString error_;
};
