#include "stream.h"

#include <charconv>

#include "common.h"
#include "dataset.h"

namespace zelk::tool {

namespace {

void AppendNumber(std::string& s, double v) {
    char buf[32];
    auto r = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}

}  // namespace

RecordFollower::RecordFollower(const dbf::RecordLayout& layout)
    : layout_(layout), recordBytes_(static_cast<size_t>(layout.RecordBytes())) {}

bool RecordFollower::Open(const std::string& path) { return file_.OpenRead(path); }

const std::vector<uint8_t>& RecordFollower::Poll() {
    whole_.clear();
    if (!file_.IsOpen()) return whole_;
    uint8_t buf[1 << 16];
    for (;;) {
        size_t got = 0;
        if (!file_.Read(buf, sizeof buf, got) || got == 0) break;
        pending_.insert(pending_.end(), buf, buf + got);
    }
    const size_t whole = pending_.size() / recordBytes_ * recordBytes_;
    whole_.assign(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(whole));
    records_ += whole / recordBytes_;
    return whole_;
}

StreamWriter::StreamWriter(std::ostream& out, Format format, const dbf::RecordLayout& layout, double periodUs,
                           const ChannelLabels& labels)
    : out_(out), format_(format), layout_(layout), periodUs_(periodUs), names_(RecordColumnNames(layout)),
      labels_(labels), values_(names_.size()) {}

void StreamWriter::Header() {
    if (format_ != Format::Csv) return;
    out_ << "INDEX,TIME";
    for (const std::string& n : names_) out_ << "," << CsvCell(labels_.Heading(n));
    out_ << "\n" << std::flush;
}

bool StreamWriter::Records(const std::vector<uint8_t>& bytes, uint64_t firstIndex) {
    const size_t r = static_cast<size_t>(layout_.RecordBytes());
    line_.clear();
    for (size_t at = 0; at + r <= bytes.size(); at += r) {
        const uint64_t index = firstIndex + at / r;
        DecodeRecord(layout_, bytes.data() + at, values_.data());
        const double time = static_cast<double>(index) * periodUs_ * 1e-6;
        if (format_ == Format::Csv) {
            line_ += std::to_string(index);
            line_ += ',';
            AppendNumber(line_, time);
            for (double v : values_) {
                line_ += ',';
                AppendNumber(line_, v);
            }
        } else {
            line_ += "{\"INDEX\": " + std::to_string(index) + ", \"TIME\": ";
            AppendNumber(line_, time);
            for (size_t c = 0; c < values_.size(); ++c) {
                line_ += ", \"" + names_[c] + "\": ";
                AppendNumber(line_, values_[c]);
            }
            line_ += '}';
        }
        line_ += '\n';
    }
    out_ << line_ << std::flush;
    return static_cast<bool>(out_);
}

}  // namespace zelk::tool
