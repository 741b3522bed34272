#include "app/qt_regional.h"

namespace tp::app {
namespace {

char singleChar(const QString& s, char fallback) {
    if (s.size() == 1 && s[0].unicode() < 0x80) return static_cast<char>(s[0].unicode());
    return fallback;
}

}  // namespace

convert::RegionalSettings regionalSettingsFrom(const QLocale& locale) {
    convert::RegionalSettings s;
    s.decimalSeparator = singleChar(locale.decimalPoint(), '.');
    s.thousandsSeparator = singleChar(locale.groupSeparator(), s.decimalSeparator == ',' ? '.' : ',');
    if (s.thousandsSeparator == s.decimalSeparator) s.thousandsSeparator = ' ';

    // The short date pattern tells the order of day, month and year, the
    // separator and whether day and month carry leading zeros.
    const QString date = locale.dateFormat(QLocale::ShortFormat);
    const qsizetype d = date.indexOf(QLatin1Char('d')), m = date.indexOf(QLatin1Char('M')),
                    y = date.indexOf(QLatin1Char('y'));
    if (d >= 0 && m >= 0 && y >= 0) {
        if (y < m && m < d) s.dateOrder = convert::DateOrder::YearMonthDay;
        else if (d < m) s.dateOrder = convert::DateOrder::DayMonthYear;
        else s.dateOrder = convert::DateOrder::MonthDayYear;
    }
    for (QChar c : date)
        if (!c.isLetter() && c.unicode() < 0x80 && c != QLatin1Char(' ') && c != QLatin1Char('\'')) {
            s.dateSeparator = static_cast<char>(c.unicode());
            break;
        }
    s.shortDateLeadingZeros = date.contains(QLatin1String("dd")) || date.contains(QLatin1String("MM"));
    s.fourDigitYear = true;  // written with four digits, so that no century is lost

    const QString time = locale.timeFormat(QLocale::LongFormat);
    s.clock24 = !time.contains(QLatin1Char('a'), Qt::CaseInsensitive);
    for (QChar c : time)
        if (!c.isLetter() && c.unicode() < 0x80 && c != QLatin1Char(' ')) {
            s.timeSeparator = static_cast<char>(c.unicode());
            break;
        }
    const QString am = locale.amText(), pm = locale.pmText();
    if (!am.isEmpty()) s.amText = am.toStdString();
    if (!pm.isEmpty()) s.pmText = pm.toStdString();
    return s;
}

void installSystemRegionalSettings() { convert::setRegionalSettings(regionalSettingsFrom(QLocale::system())); }

}  // namespace tp::app
