#pragma once

#include <QString>

#include <optional>
#include <utility>

namespace quorvel::core {

// A value, or the message that says why there is none. Failures cross subsystem borders as
// values, never as exceptions.
template<typename T>
class Result
{
public:
    Result(T value)
        : m_value(std::move(value))
    {
    }
    static Result failure(QString message) { return Result(std::nullopt, std::move(message)); }

    bool ok() const { return m_value.has_value(); }
    explicit operator bool() const { return ok(); }
    const T &value() const & { return *m_value; }
    T &value() & { return *m_value; }
    T &&value() && { return std::move(*m_value); }
    const QString &error() const { return m_error; }

private:
    Result(std::nullopt_t, QString message)
        : m_error(std::move(message))
    {
    }
    std::optional<T> m_value;
    QString m_error;
};

template<>
class Result<void>
{
public:
    static Result success() { return Result(QString(), true); }
    static Result failure(QString message) { return Result(std::move(message), false); }

    bool ok() const { return m_ok; }
    explicit operator bool() const { return m_ok; }
    const QString &error() const { return m_error; }

private:
    Result(QString message, bool ok)
        : m_error(std::move(message))
        , m_ok(ok)
    {
    }
    QString m_error;
    bool m_ok = false;
};

} // namespace quorvel::core
