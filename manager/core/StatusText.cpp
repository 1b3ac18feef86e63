#include "manager/core/StatusText.h"

#include "common/text/Format.h"

namespace manager {

StatusTexts MakeStatusTexts(const StatusValues& values, const ListLineReader& readListLine) {
    StatusTexts texts;
    if (!values.connected) {
        texts.status = u"Not Connected";
        return texts;
    }
    texts.device = text::Format(u"%s [%s]", values.deviceName, values.addressText);
    if (!values.playing || values.fileIndex == 0) {
        texts.status = u"Connected";
        return texts;
    }
    if (readListLine) {
        if (const auto line = readListLine(values.fileIndex, values.mediaType)) {
            texts.status = *line;
            // The field shows the name without its line end.
            while (!texts.status.empty() &&
                   (texts.status.back() == u'\n' || texts.status.back() == u'\r')) {
                texts.status.pop_back();
            }
        }
    }
    texts.showStop = true;
    return texts;
}

} // namespace manager
