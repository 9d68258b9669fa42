// Drives TValueReader over arbitrary bytes with an operation script taken from the input.
//
// Input layout: byte 0 is the number of script bytes that follow; the rest is the stream. Each
// script byte picks one reader operation (byte % kOpCount; for GetRaw, byte / kOpCount is the
// count), the script repeating until the step budget is spent. kList reads a whole list, its
// items chosen by the next script bytes, so lists nest.
//
// Checks beyond "no crash":
// - the same script over the same bytes gives the same values whether the stream hands out
//   everything at once or three bytes per read, and whether Finish calls happen or not (so the
//   buffer and the seek-back of Finish never lose or repeat a byte);
// - every value read writes back with TValueWriter and reads back equal;
// - the strict UTF-8 check agrees with Qt's decoder.

#include "platform/ansicodepage.h"
#include "platform/tvalueerrors.h"
#include "platform/tvaluereader.h"
#include "platform/tvaluewriter.h"
#include "support/tricklestream.h"

#include <QStringDecoder>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

using namespace platform;

using namespace testsupport;

namespace {

enum Op : uint8_t {
    kInteger,
    kBoolean,
    kDateTime,
    kAnsi,
    kWide,
    kListStart,
    kListEnd,
    kAtListEnd,
    kRaw,
    kFinish,
    kList,
    kOpCount
};

constexpr int kStepBudget = 512;

void Require(bool condition) {
    if (!condition)
        std::abort();
}

void CheckUtf8Agreement(const QByteArray& bytes) {
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::Stateless |
                                                       QStringConverter::Flag::ConvertInitialBom);
    const QString text = decoder.decode(bytes);
    const bool valid = IsValidUtf8(bytes);
    Require(valid == !decoder.hasError());
    if (valid)
        Require(WideToUtf8(text) == bytes);
}

void CheckInteger(int32_t value) {
    TMemoryStream stream;
    TValueWriter(stream).PutInteger(value);
    stream.SetPosition(0);
    TValueReader reader(stream);
    Require(reader.GetDateTime() == value);
}

void CheckDateTime(double value) {
    TMemoryStream stream;
    TValueWriter(stream).PutDateTime(value);
    stream.SetPosition(0);
    TValueReader reader(stream);
    Require(std::bit_cast<uint64_t>(reader.GetDateTime()) == std::bit_cast<uint64_t>(value));
}

void CheckAnsi(const QByteArray& text) {
    CheckUtf8Agreement(text);
    const QByteArray utf8 = AnsiToUtf8(text);
    Require(IsValidUtf8(utf8));
    TMemoryStream stream;
    TValueWriter(stream).PutAnsiText(text);
    stream.SetPosition(0);
    TValueReader reader(stream);
    Require(reader.GetAnsiText() == utf8);
}

void CheckWide(const QString& text) {
    TMemoryStream stream;
    TValueWriter(stream).PutWideText(text);
    stream.SetPosition(0);
    TValueReader reader(stream);
    const QString back = reader.GetWideText();
    // Unpaired surrogates become U+FFFD when the UTF-8 form is the one written.
    Require(back == text || (!text.isValidUtf16() && back == Utf8ToWide(WideToUtf8(text))));
}

class TScriptRun {
public:
    TScriptRun(TValueReader& reader, const uint8_t* script, size_t length, bool honourFinish,
               int failuresAllowed)
        : reader_(reader), script_(script), length_(length), honourFinish_(honourFinish),
          failuresAllowed_(failuresAllowed) {}

    std::vector<std::string> Run() {
        while (steps_ < kStepBudget) {
            try {
                Step();
            } catch (const EReadError& e) {
                log_.push_back("! " + e.Message().toStdString());
                if (--failuresAllowed_ == 0)
                    break;
            }
        }
        return log_;
    }

private:
    void Step() {
        ++steps_;
        const uint8_t byte = script_[next_++ % length_];
        const auto op = static_cast<Op>(byte % kOpCount);
        switch (op) {
        case kInteger: {
            const int32_t value = reader_.GetInteger();
            CheckInteger(value);
            log_.push_back("i " + std::to_string(value));
            break;
        }
        case kBoolean:
            log_.push_back(reader_.GetBoolean() ? "b 1" : "b 0");
            break;
        case kDateTime: {
            const double value = reader_.GetDateTime();
            CheckDateTime(value);
            log_.push_back("d " + std::to_string(std::bit_cast<uint64_t>(value)));
            break;
        }
        case kAnsi: {
            const QByteArray text = reader_.GetAnsiText();
            CheckAnsi(text);
            log_.push_back("a " + text.toHex().toStdString());
            break;
        }
        case kWide: {
            const QString text = reader_.GetWideText();
            CheckWide(text);
            const QByteArray units(reinterpret_cast<const char*>(text.utf16()), 2 * text.size());
            log_.push_back("w " + units.toHex().toStdString());
            break;
        }
        case kListStart:
            reader_.GetListStart();
            log_.push_back("(");
            break;
        case kListEnd:
            reader_.GetListEnd();
            log_.push_back(")");
            break;
        case kAtListEnd:
            log_.push_back(reader_.AtListEnd() ? "e 1" : "e 0");
            break;
        case kRaw: {
            char buffer[256 / kOpCount + 1];
            const int32_t count = byte / kOpCount;
            reader_.GetRaw(buffer, count);
            log_.push_back("r " + QByteArray(buffer, count).toHex().toStdString());
            break;
        }
        case kFinish:
            if (honourFinish_)
                reader_.Finish();
            break;
        case kList:
            reader_.GetListStart();
            log_.push_back("[");
            // Items are further script steps, lists among them; the step budget bounds the
            // nesting as well as the length.
            while (steps_ < kStepBudget && !reader_.AtListEnd())
                Step();
            if (steps_ < kStepBudget) {
                reader_.GetListEnd();
                log_.push_back("]");
            }
            break;
        case kOpCount:
            break;
        }
    }

    TValueReader& reader_;
    const uint8_t* script_;
    size_t length_;
    size_t next_ = 0;
    int steps_ = 0;
    bool honourFinish_;
    int failuresAllowed_;
    std::vector<std::string> log_;
};

std::vector<std::string> RunOn(TStream& stream, const uint8_t* script, size_t length,
                               bool honourFinish, int failuresAllowed) {
    TValueReader reader(stream);
    return TScriptRun(reader, script, length, honourFinish, failuresAllowed).Run();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2)
        return 0;
    const size_t length = std::clamp<size_t>(data[0], 1, size - 1);
    const uint8_t* script = data + 1;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1 + length),
                           static_cast<qsizetype>(size - 1 - length));

    TMemoryStream whole(bytes);
    const auto plain = RunOn(whole, script, length, true, 1);
    Require(whole.Position() <= bytes.size());

    TTrickleStream trickle(bytes);
    Require(RunOn(trickle, script, length, false, 1) == plain);

    // Past the first failure the position is unspecified; this run only has to stay sound
    // while it reads on through a few more.
    TMemoryStream again(bytes);
    RunOn(again, script, length, true, 16);
    Require(again.Position() <= bytes.size());
    return 0;
}
