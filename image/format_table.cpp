// The format table: the everyday rows, then the rarer ones; see format_table.h.
#include "image/format_table.h"

#include <vector>

#include "image/format_readers.h"

namespace {

const ImageFormatRow kUnknownRow = {ImageFormat::kUnknown, "unknown", "", false, nullptr, nullptr, nullptr, false};

const std::vector<ImageFormatRow>& Rows() {
    static const std::vector<ImageFormatRow> rows = [] {
        std::vector<ImageFormatRow> all(kEverydayFormatRows, kEverydayFormatRows + kEverydayFormatRowCount);
        all.insert(all.end(), kRareFormatRows, kRareFormatRows + kRareFormatRowCount);
        return all;
    }();
    return rows;
}

}  // namespace

const ImageFormatRow* ImageFormatRows(size_t& count) {
    count = Rows().size();
    return Rows().data();
}

const ImageFormatRow& FormatRow(ImageFormat format) {
    for (const ImageFormatRow& row : Rows()) {
        if (row.format == format) return row;
    }
    return kUnknownRow;
}
