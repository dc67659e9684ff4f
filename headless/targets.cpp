#include "headless/targets.h"

#include "hostlist/hostline.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QSet>
#include <QVariant>

#include <yaml-cpp/yaml.h>

#include <string>

namespace headless {
namespace {

// host, ip and source are set by the program itself; a file must not pass them off as its own.
const QSet<QString>& reservedLabels()
{
    static const QSet<QString> names{QStringLiteral("host"),  QStringLiteral("ip"),     QStringLiteral("source"),
                                     QStringLiteral("state"), QStringLiteral("status"), QStringLiteral("le")};
    return names;
}

bool isLabelName(const QString& name)
{
    if (name.isEmpty() || name.size() > 128)
        return false;
    for (qsizetype i = 0; i < name.size(); ++i) {
        const char16_t c = name.at(i).unicode();
        const bool letter = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || c == u'_';
        if (!letter && !(i > 0 && c >= u'0' && c <= u'9'))
            return false;
    }
    return true;
}

// YAML scalars, sequences and maps as the QVariant forms QJsonDocument gives, so that both
// formats are checked by one set of rules. Deeper nesting than a target file has is refused
// before it can cost stack.
// nodesLeft bounds the work: aliases let a small file name a very large tree.
bool yamlToVariant(const YAML::Node& node, int depth, qint64* nodesLeft, QVariant* out, QString* error)
{
    if (--*nodesLeft < 0) {
        *error = QStringLiteral("too many values");
        return false;
    }
    if (depth > MaxNesting) {
        *error = QStringLiteral("nested too deeply");
        return false;
    }
    switch (node.Type()) {
    case YAML::NodeType::Null:
    case YAML::NodeType::Undefined:
        *out = QVariant();
        return true;
    case YAML::NodeType::Scalar:
        *out = QString::fromStdString(node.Scalar());
        return true;
    case YAML::NodeType::Sequence: {
        QVariantList list;
        for (const YAML::Node& item : node) {
            QVariant v;
            if (!yamlToVariant(item, depth + 1, nodesLeft, &v, error))
                return false;
            list.append(v);
        }
        *out = list;
        return true;
    }
    case YAML::NodeType::Map: {
        QVariantMap map;
        for (const auto& item : node) {
            if (!item.first.IsScalar()) {
                *error = QStringLiteral("a key that is not a plain word");
                return false;
            }
            QVariant v;
            if (!yamlToVariant(item.second, depth + 1, nodesLeft, &v, error))
                return false;
            map.insert(QString::fromStdString(item.first.Scalar()), v);
        }
        *out = map;
        return true;
    }
    }
    return false;
}

bool isText(const QVariant& v)
{
    return v.typeId() == QMetaType::QString;
}

ParsedTargets fromVariant(const QVariant& document)
{
    ParsedTargets result;
    auto fail = [&](const QString& why) {
        result.targets.clear();
        result.error = why;
        return result;
    };
    if (!document.isValid())
        return result; // an empty file: no targets
    if (document.typeId() != QMetaType::QVariantList)
        return fail(QStringLiteral("expected a list of target groups"));
    const QVariantList groups = document.toList();
    for (qsizetype g = 0; g < groups.size(); ++g) {
        const QString where = QStringLiteral("group %1: ").arg(g + 1);
        if (groups[g].typeId() != QMetaType::QVariantMap)
            return fail(where + QStringLiteral("expected {\"targets\": [...], \"labels\": {...}}"));
        const QVariantMap group = groups[g].toMap();
        for (auto it = group.cbegin(); it != group.cend(); ++it) {
            if (it.key() != QLatin1String("targets") && it.key() != QLatin1String("labels"))
                return fail(where + QStringLiteral("unknown field \"%1\"").arg(it.key().left(64)));
        }
        Target proto;
        const QVariant labels = group.value(QStringLiteral("labels"));
        if (labels.isValid()) {
            if (labels.typeId() != QMetaType::QVariantMap)
                return fail(where + QStringLiteral("\"labels\" is not a map"));
            const QVariantMap map = labels.toMap();
            for (auto it = map.cbegin(); it != map.cend(); ++it) {
                if (!isLabelName(it.key()))
                    return fail(where + QStringLiteral("\"%1\" is not a label name").arg(it.key().left(64)));
                if (!isText(it.value()))
                    return fail(where + QStringLiteral("label \"%1\" is not text").arg(it.key()));
                if (reservedLabels().contains(it.key()))
                    return fail(where + QStringLiteral("label \"%1\" is set by tivane-monitor itself").arg(it.key()));
                if (it.key().startsWith(QLatin1String("__")))
                    continue;
                if (it.key() == QLatin1String("name"))
                    proto.name = it.value().toString();
                else
                    proto.labels.insert(it.key(), it.value().toString());
            }
        }
        const QVariant targets = group.value(QStringLiteral("targets"));
        if (targets.typeId() != QMetaType::QVariantList)
            return fail(where + QStringLiteral("\"targets\" is missing or not a list"));
        for (const QVariant& t : targets.toList()) {
            if (!isText(t))
                return fail(where + QStringLiteral("a target is not text"));
            Target target = proto;
            target.address = t.toString().trimmed();
            const QString problem = hostlist::addressProblem(target.address);
            if (!problem.isEmpty())
                return fail(where + QStringLiteral("\"%1\": %2").arg(target.address.left(64), problem));
            if (target.name.isEmpty())
                target.name = target.address;
            if (result.targets.size() >= hostlist::MaxEntries)
                return fail(QStringLiteral("more than %1 targets").arg(hostlist::MaxEntries));
            result.targets.append(target);
        }
    }
    return result;
}

} // namespace

ParsedTargets parseTargetFile(const QByteArray& data, TargetFormat format)
{
    if (data.size() > MaxFileBytes)
        return {{}, QStringLiteral("larger than %1 bytes").arg(MaxFileBytes)};
    if (format == TargetFormat::Json) {
        if (data.trimmed().isEmpty())
            return {};
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(data, &error);
        if (error.error != QJsonParseError::NoError)
            return {{}, QStringLiteral("not JSON at offset %1: %2").arg(error.offset).arg(error.errorString())};
        return fromVariant(doc.toVariant());
    }
    QVariant document;
    QString why;
    try {
        const YAML::Node root = YAML::Load(data.toStdString());
        // Room for every entry a list may hold, with a few labels each.
        qint64 nodesLeft = qint64(hostlist::MaxEntries) * 16;
        if (!yamlToVariant(root, 0, &nodesLeft, &document, &why))
            return {{}, why};
    } catch (const YAML::Exception& e) {
        return {{}, QStringLiteral("not YAML: %1").arg(QString::fromStdString(e.what()).left(200))};
    } catch (const std::exception& e) {
        return {{}, QStringLiteral("not readable: %1").arg(QString::fromStdString(e.what()).left(200))};
    }
    return fromVariant(document);
}

bool targetFormatFor(const QString& path, TargetFormat* format)
{
    if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive)) {
        *format = TargetFormat::Json;
        return true;
    }
    if (path.endsWith(QLatin1String(".yml"), Qt::CaseInsensitive) ||
        path.endsWith(QLatin1String(".yaml"), Qt::CaseInsensitive)) {
        *format = TargetFormat::Yaml;
        return true;
    }
    return false;
}

namespace {

bool readWhole(const QString& path, QByteArray* data, QString* error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = file.errorString();
        return false;
    }
    *data = file.read(MaxFileBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *error = file.errorString();
        return false;
    }
    if (data->size() > MaxFileBytes) {
        *error = QStringLiteral("larger than %1 bytes").arg(MaxFileBytes);
        return false;
    }
    return true;
}

} // namespace

LoadedHosts loadHosts(const QStringList& listFiles, const QStringList& targetFiles)
{
    LoadedHosts loaded;
    QSet<QString> seen;
    auto take = [&](const QString& path, const QVector<Target>& targets) {
        for (const Target& t : targets) {
            if (seen.contains(t.address)) {
                loaded.warnings.append(
                    QStringLiteral("%1: %2 is given twice; the first one is kept").arg(path, t.address));
                continue;
            }
            seen.insert(t.address);
            loaded.targets.append(t);
        }
    };
    for (const QString& path : listFiles) {
        QByteArray data;
        QString error;
        if (!readWhole(path, &data, &error)) {
            loaded.errors.append(path + QStringLiteral(": ") + error);
            continue;
        }
        const hostlist::ParsedHostList parsed = hostlist::parseHostList(data);
        if (parsed.errorLine != 0) {
            loaded.errors.append(QStringLiteral("%1:%2: %3").arg(path).arg(parsed.errorLine).arg(parsed.errorCause));
            continue;
        }
        QVector<Target> targets;
        targets.reserve(parsed.entries.size());
        for (const hostlist::HostLine& line : parsed.entries)
            targets.append({line.name.isEmpty() ? line.address : line.name, line.address, {}});
        take(path, targets);
    }
    for (const QString& path : targetFiles) {
        TargetFormat format;
        if (!targetFormatFor(path, &format)) {
            loaded.errors.append(path + QStringLiteral(": not a .json, .yml or .yaml file"));
            continue;
        }
        QByteArray data;
        QString error;
        if (!readWhole(path, &data, &error)) {
            loaded.errors.append(path + QStringLiteral(": ") + error);
            continue;
        }
        const ParsedTargets parsed = parseTargetFile(data, format);
        if (!parsed.error.isEmpty()) {
            loaded.errors.append(path + QStringLiteral(": ") + parsed.error);
            continue;
        }
        take(path, parsed.targets);
    }
    if (!loaded.errors.isEmpty())
        loaded.targets.clear();
    return loaded;
}

} // namespace headless
