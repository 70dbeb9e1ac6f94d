#include "registry/DateTimeText.h"

std::string DateTimeToText(TDateTime time) {
    return FormatDateTime("mmmm dd,yyyy h:n am/pm", time);
}
