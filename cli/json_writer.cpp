#include "cli/json_writer.h"

#include <cmath>

void JsonWriter::separate()
{
    if (m_need_comma)
        m_out += QLatin1String(", ");
    m_need_comma = false;
}

void JsonWriter::begin_object()
{
    separate();
    m_out += QLatin1Char('{');
}

void JsonWriter::end_object()
{
    m_out += QLatin1Char('}');
    m_need_comma = true;
}

void JsonWriter::begin_array()
{
    separate();
    m_out += QLatin1Char('[');
}

void JsonWriter::end_array()
{
    m_out += QLatin1Char(']');
    m_need_comma = true;
}

void JsonWriter::key(const char *name)
{
    separate();
    m_out += QLatin1Char('"') + QLatin1String(name) + QLatin1String("\": ");
}

void JsonWriter::value(std::uint64_t number)
{
    separate();
    m_out += QString::number(number);
    m_need_comma = true;
}

void JsonWriter::decimal(double number, int decimals)
{
    separate();
    m_out += std::isfinite(number) ? QString::number(number, 'f', decimals) : QStringLiteral("0");
    m_need_comma = true;
}

void JsonWriter::value(const QString &text)
{
    separate();
    m_out += QLatin1Char('"');
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '"': m_out += QLatin1String("\\\""); break;
        case '\\': m_out += QLatin1String("\\\\"); break;
        case '\n': m_out += QLatin1String("\\n"); break;
        case '\r': m_out += QLatin1String("\\r"); break;
        case '\t': m_out += QLatin1String("\\t"); break;
        default:
            if (c.unicode() < 0x20)
                m_out += QString::asprintf("\\u%04x", c.unicode());
            else
                m_out += c;
        }
    }
    m_out += QLatin1Char('"');
    m_need_comma = true;
}

void JsonWriter::flag(bool yes)
{
    separate();
    m_out += yes ? QLatin1String("true") : QLatin1String("false");
    m_need_comma = true;
}
