#include "hostlist/importplan.h"

#include "hostlist/hostlistfile_p.h"

#include <QRegularExpression>
#include <QSet>

namespace hostlist {

using namespace detail;

namespace {

// The fields of a CSV line: separated by commas, a field in double quotes may hold commas, and
// two double quotes in it stand for one. Nothing for a quote left open or text after a closing one.
std::optional<QStringList> csvFields(QStringView line)
{
    QStringList fields;
    QString field;
    qsizetype i = 0;
    const qsizetype n = line.size();
    while (true) {
        field.clear();
        if (i < n && line[i] == u'"') {
            ++i;
            while (true) {
                if (i >= n)
                    return std::nullopt;
                if (line[i] == u'"') {
                    if (i + 1 < n && line[i + 1] == u'"') {
                        field += u'"';
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                field += line[i++];
            }
            while (i < n && line[i].isSpace())
                ++i;
            if (i < n && line[i] != u',')
                return std::nullopt;
        } else {
            while (i < n && line[i] != u',')
                field += line[i++];
        }
        fields.append(field.trimmed());
        if (i >= n)
            return fields;
        ++i; // the comma
    }
}

// "name,address" as a spreadsheet writes it; nothing when the line is not such a pair with a
// usable address, so that "pc, home 10.0.0.2" is still read as words.
std::optional<HostLine> csvHost(const QString& line)
{
    if (!line.contains(u','))
        return std::nullopt;
    const std::optional<QStringList> fields = csvFields(line);
    if (!fields || fields->size() != 2 || fields->at(1).isEmpty() || !addressProblem(fields->at(1)).isEmpty())
        return std::nullopt;
    return HostLine{3, fields->at(0).isEmpty() ? fields->at(1) : fields->at(0), fields->at(1)};
}

} // namespace

ImportPlan planImport(QStringView text, const QVector<HostLine>& existing)
{
    ImportPlan plan;
    QSet<QString> seen;
    for (const HostLine& e : existing)
        seen.insert(e.address.toLower());
    int number = 0;
    for (QStringView raw : text.split(u'\n')) {
        ++number;
        if (number > MaxEntries)
            break;
        const QString line = raw.trimmed().toString();
        if (line.isEmpty())
            continue;
        const auto reject = [&](const QString& why) { plan.rejected.append({number, line, why}); };
        HostLine entry;
        // A number of any script first and a bar: it looks like a list line.
        const char32_t first = line.size() > 1 && line[0].isHighSurrogate() && line[1].isLowSurrogate()
                                   ? QChar::surrogateToUcs4(line[0], line[1])
                                   : char32_t(line[0].unicode());
        const bool looksListed = QChar::isNumber(first) && line.contains(u'|');
        const std::optional<HostLine> listLine = looksListed ? parseHostLine(line) : std::nullopt;
        // A list line first: its name may hold a comma.
        const std::optional<HostLine> fromCsv = listLine ? std::nullopt : csvHost(line);
        if (fromCsv) {
            entry = *fromCsv;
            if (entry.name.contains(u'|')) {
                reject(QStringLiteral("a name cannot hold \"|\""));
                continue;
            }
        } else if (listLine) {
            entry = *listLine;
            entry.address = entry.address.trimmed();
        } else if (looksListed) {
            // A digit of another script: only 0 to 9 give a type.
            reject(QStringLiteral("a line with \"|\" must start with a type digit 0 to 9"));
            continue;
        } else {
            const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
            entry.type = 3;
            entry.address = words.last();
            entry.name = words.size() > 1 ? words.mid(0, words.size() - 1).join(u' ') : entry.address;
            if (entry.name.contains(u'|')) {
                reject(QStringLiteral("a name cannot hold \"|\""));
                continue;
            }
        }
        if (const QString problem = addressProblem(entry.address); !problem.isEmpty()) {
            reject(problem);
            continue;
        }
        if (seen.contains(entry.address.toLower())) {
            reject(QStringLiteral("%1 is in the list already").arg(entry.address));
            continue;
        }
        seen.insert(entry.address.toLower());
        plan.accepted.append(entry);
    }
    return plan;
}

} // namespace hostlist
