// Any bytes as a ".q5x" file: the reader must not crash, hang or read outside the input; a document
// that reads imports into a data set whose counts all belong to it; a failure always names a reason.
#include "common/Prompt.h"
#include "common/analysis/Q5xReader.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static ScopedPromptScript silence({}, false);
    static radio::TRadData set;   // the site is read once
    QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    for (radio::TQ5xVariant variant : {radio::TQ5xVariant::Viewer, radio::TQ5xVariant::Radiometre}) {
        set.Clear();
        const radio::TImportDataXml import(buffer, "fuzz.q5x", set, variant);
        if (import.Status == radio::TImportDataXml::StatusUnreadable && import.Error.Reason.empty()) __builtin_trap();
        if (set.FilterList.Count() > radio::kMaxFilters) __builtin_trap();
        for (const radio::TCNSerie* serie : set.SerieList)
            for (const radio::TCN* cn : *serie)
                if (cn->Serie != serie || cn->Filter != set.FindFilter(cn->FilterNumber)) __builtin_trap();
        if (import.Status == radio::TImportDataXml::StatusOk && set.GetNbTotalCN() == 0) __builtin_trap();
    }
    return 0;
}
