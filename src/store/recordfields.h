#pragma once

#include "platform/ansicodepage.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"

#include <QString>
#include <QtEndian>

#include <cstdint>

// The raw (untagged) fields of the document's records and the text fields that older record
// versions kept as 8-bit text.
namespace store::recordfields {

inline int32_t GetRawInteger(platform::TValueReader& reader) {
    int32_t value = 0;
    reader.GetRaw(&value, sizeof value);
    return qFromLittleEndian(value);
}

inline void PutRawInteger(platform::TValueWriter& writer, int32_t value) {
    const int32_t little = qToLittleEndian(value);
    writer.PutRaw(&little, sizeof little);
}

inline double GetRawDouble(platform::TValueReader& reader) {
    double value = 0;
    reader.GetRaw(&value, sizeof value);
    return value;
}

inline void PutRawDouble(platform::TValueWriter& writer, double value) {
    writer.PutRaw(&value, sizeof value);
}

// Records written before a text field became wide keep it as 8-bit text.
inline QString GetText(platform::TValueReader& reader, bool wide) {
    return wide ? reader.GetWideText() : platform::AnsiToWide(reader.GetAnsiText());
}

} // namespace store::recordfields
