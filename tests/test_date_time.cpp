#include "registry/DateTime.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <clocale>
#include <cmath>
#include <string>

namespace {

class DateTimeTest : public ::testing::Test {
protected:
    void SetUp() override {
        saved_ = QLocale();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void TearDown() override { QLocale::setDefault(saved_); }

private:
    QLocale saved_;
};

TEST_F(DateTimeTest, DaysCountFromTheLastDaysOf1899) {
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 30, 0, 0, 0), 0.0);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1900, 1, 1, 18, 0, 0), 2.75);
    EXPECT_DOUBLE_EQ(EncodeDateTime(1899, 12, 29, 6, 0, 0), -1.25);
    const QDateTime back = QDateTimeFromDateTime(EncodeDateTime(2026, 12, 8, 21, 5, 59));
    EXPECT_EQ(back, QDateTime(QDate(2026, 12, 8), QTime(21, 5, 59)));
    for (const double noDate : {std::nan(""), 1e300, -1e300, 3e6})
        EXPECT_FALSE(QDateTimeFromDateTime(noDate).isValid()) << noDate;
}

TEST_F(DateTimeTest, PatternsTheProgramWrites) {
    const TDateTime evening = EncodeDateTime(2026, 12, 8, 21, 5, 7);
    const TDateTime morning = EncodeDateTime(2027, 1, 3, 0, 45, 0);
    struct Case {
        const char* pattern;
        TDateTime time;
        const char* expected;
    } cases[] = {
        {"yyyy-mm-dd hh:nn:ss", evening, "2026-12-08 21:05:07"},
        {"yyyymmddhhnnss", evening, "20261208210507"},
        {"ddmmyyyyhhnnss", evening, "08122026210507"},
        {"dd-mm-yyyy hh.nn.ss", evening, "08-12-2026 21.05.07"},
        {"mmmm dd,yyyy h:n am/pm", evening, "December 08,2026 9:5 pm"},
        {"mmmm dd,yyyy h:n am/pm", morning, "January 03,2027 12:45 am"},
        {"hh:mm", evening, "21:05"},
        {"\"at\" h", evening, "at 21"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(FormatDateTime(c.pattern, c.time), c.expected) << c.pattern;
}

// The texts are stored and read back, so a desktop in another language must write the
// same ones; month names from its locale would also not fit the ANSI code page.
TEST_F(DateTimeTest, MonthNamesAreEnglishWhateverTheLocale) {
    const TDateTime evening = EncodeDateTime(2026, 12, 8, 21, 5, 7);
    const TDateTime march = EncodeDateTime(2027, 3, 1, 9, 30, 0);
    const std::string savedC = std::setlocale(LC_ALL, nullptr);
    for (const QLocale::Language language :
         {QLocale::German, QLocale::French, QLocale::Russian, QLocale::Japanese}) {
        const QLocale locale(language);
        QLocale::setDefault(locale);
        std::setlocale(LC_ALL, (locale.name() + ".UTF-8").toUtf8().constData());
        EXPECT_EQ(FormatDateTime("mmmm dd,yyyy h:n am/pm", evening), "December 08,2026 9:5 pm")
            << locale.name().toStdString();
        EXPECT_EQ(FormatDateTime("mmmm dd,yyyy h:n am/pm", march), "March 01,2027 9:30 am")
            << locale.name().toStdString();
        EXPECT_EQ(FormatDateTime("d mmm yyyy", march), "1 Mar 2027") << locale.name().toStdString();
    }
    std::setlocale(LC_ALL, savedC.c_str());
}

} // namespace
