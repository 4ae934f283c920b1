// A minimal JSON writer: the scan report needs 64-bit positions written as
// exact integers, which QJsonDocument (doubles underneath) cannot promise.
#pragma once

#include <QString>
#include <cstdint>

class JsonWriter
{
public:
    void begin_object();
    void end_object();
    void begin_array();
    void end_array();
    void key(const char *name);
    void value(std::uint64_t number);
    // A measured quantity, not a position: rounded to `decimals`.
    void decimal(double number, int decimals);
    void value(const QString &text);
    void flag(bool yes);
    const QString &text() const { return m_out; }

private:
    void separate();
    QString m_out;
    bool m_need_comma = false;
};
