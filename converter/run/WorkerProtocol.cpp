#include "converter/run/WorkerProtocol.h"

namespace WorkerProtocol {

namespace {

class Writer {
public:
    explicit Writer(Kind kind) : bytes_(4, 0) { bytes_.push_back(static_cast<uint8_t>(kind)); }

    Writer& Number(uint32_t value) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
    Writer& Text(const std::string& text) {
        Number(static_cast<uint32_t>(text.size()));
        for (char c : text) Unit(static_cast<uint8_t>(c));
        return *this;
    }
    Writer& Text(const std::wstring& text) {
        Number(static_cast<uint32_t>(text.size()));
        for (wchar_t c : text) Unit(static_cast<uint16_t>(c));
        return *this;
    }
    std::vector<uint8_t> Done() {
        const uint32_t body = static_cast<uint32_t>(bytes_.size() - 4);
        for (int i = 0; i < 4; ++i) bytes_[i] = static_cast<uint8_t>(body >> (8 * i));
        return std::move(bytes_);
    }

private:
    void Unit(uint16_t unit) {
        bytes_.push_back(static_cast<uint8_t>(unit));
        bytes_.push_back(static_cast<uint8_t>(unit >> 8));
    }
    std::vector<uint8_t> bytes_;
};

class Reader {
public:
    Reader(const std::vector<uint8_t>& body, Kind kind) : body_(body) {
        ok_ = !body.empty() && body[0] == static_cast<uint8_t>(kind);
        at_ = 1;
    }

    Reader& Number(uint32_t& value) {
        if (!ok_ || body_.size() - at_ < 4) return Fail();
        value = 0;
        for (int i = 0; i < 4; ++i) value |= static_cast<uint32_t>(body_[at_ + i]) << (8 * i);
        at_ += 4;
        return *this;
    }
    Reader& Flag(bool& value) {
        uint32_t number = 0;
        Number(number);
        if (ok_ && number > 1) return Fail();
        value = number == 1;
        return *this;
    }
    template <class String>
    Reader& Text(String& text) {
        uint32_t units = 0;
        Number(units);
        if (!ok_ || (body_.size() - at_) / 2 < units) return Fail();
        text.clear();
        for (uint32_t i = 0; i < units; ++i, at_ += 2) {
            const uint16_t unit = static_cast<uint16_t>(body_[at_] | body_[at_ + 1] << 8);
            if (sizeof(typename String::value_type) == 1 && unit > 0x7F) return Fail();  // tokens are ASCII
            text.push_back(static_cast<typename String::value_type>(unit));
        }
        return *this;
    }
    bool End() const { return ok_ && at_ == body_.size(); }

private:
    Reader& Fail() {
        ok_ = false;
        return *this;
    }
    const std::vector<uint8_t>& body_;
    size_t at_ = 0;
    bool ok_ = false;
};

}  // namespace

std::vector<uint8_t> Encode(const JobMessage& job) {
    return Writer(Kind::Job)
        .Text(job.formatToken)
        .Number(job.boxWidth)
        .Number(job.boxHeight)
        .Number(job.enlarge ? 1 : 0)
        .Text(job.tag)
        .Number(job.jpegQuality)
        .Text(job.folder)
        .Done();
}

std::vector<uint8_t> Encode(const PictureMessage& picture) {
    return Writer(Kind::Picture).Text(picture.path).Text(picture.folder).Text(picture.name).Done();
}

std::vector<uint8_t> EncodeGo() { return Writer(Kind::Go).Done(); }

std::vector<uint8_t> Encode(const OpenedMessage& opened) {
    return Writer(Kind::Opened).Number(opened.width).Number(opened.height).Number(opened.mebibytes).Done();
}

std::vector<uint8_t> Encode(const DoneMessage& done) {
    return Writer(Kind::Done)
        .Number(done.converted ? 1 : 0)
        .Number(done.started ? 1 : 0)
        .Number(done.outOfMemory ? 1 : 0)
        .Text(done.result)
        .Text(done.reason)
        .Text(done.substituteFrom)
        .Text(done.substituteTo)
        .Text(done.remark)
        .Done();
}

bool BodyLength(const uint8_t* head, uint32_t& length) {
    length = static_cast<uint32_t>(head[0]) | static_cast<uint32_t>(head[1]) << 8 |
             static_cast<uint32_t>(head[2]) << 16 | static_cast<uint32_t>(head[3]) << 24;
    return length <= MaxBodyBytes;
}

bool KindOf(const std::vector<uint8_t>& body, Kind& kind) {
    if (body.empty()) return false;
    kind = static_cast<Kind>(body[0]);
    return true;
}

bool Decode(const std::vector<uint8_t>& body, JobMessage& job) {
    return Reader(body, Kind::Job)
        .Text(job.formatToken)
        .Number(job.boxWidth)
        .Number(job.boxHeight)
        .Flag(job.enlarge)
        .Text(job.tag)
        .Number(job.jpegQuality)
        .Text(job.folder)
        .End();
}

bool Decode(const std::vector<uint8_t>& body, PictureMessage& picture) {
    return Reader(body, Kind::Picture).Text(picture.path).Text(picture.folder).Text(picture.name).End();
}

bool Decode(const std::vector<uint8_t>& body, OpenedMessage& opened) {
    return Reader(body, Kind::Opened).Number(opened.width).Number(opened.height).Number(opened.mebibytes).End();
}

bool Decode(const std::vector<uint8_t>& body, DoneMessage& done) {
    return Reader(body, Kind::Done)
        .Flag(done.converted)
        .Flag(done.started)
        .Flag(done.outOfMemory)
        .Text(done.result)
        .Text(done.reason)
        .Text(done.substituteFrom)
        .Text(done.substituteTo)
        .Text(done.remark)
        .End();
}

}  // namespace WorkerProtocol
