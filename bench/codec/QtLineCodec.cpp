#include "QtLineCodec.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <cmath>

namespace corvane {
namespace {

bool isAbsent(const QJsonValue& value) {
    return value.isUndefined() || value.isNull();
}

bool readText(const QJsonObject& object, QLatin1StringView key, std::optional<std::string>& out) {
    const QJsonValue value = object.value(key);
    if (isAbsent(value)) {
        return true;
    }
    if (!value.isString()) {
        return false;
    }
    out = value.toString().toStdString();
    return true;
}

bool readNumber(const QJsonObject& object, QLatin1StringView key, std::optional<double>& out) {
    const QJsonValue value = object.value(key);
    if (isAbsent(value)) {
        return true;
    }
    if (!value.isDouble()) {
        return false;
    }
    out = value.toDouble();
    return true;
}

bool readWholeNumber(const QJsonObject& object, QLatin1StringView key,
                     std::optional<std::int64_t>& out) {
    const QJsonValue value = object.value(key);
    if (isAbsent(value)) {
        return true;
    }
    // toInteger falls back to its argument unless the number is whole and fits 64 bits.
    const qint64 first = value.toInteger(0);
    if (!value.isDouble() || first != value.toInteger(1)) {
        return false;
    }
    out = first;
    return true;
}

bool finite(const std::optional<double>& number) {
    return !number || std::isfinite(*number);
}

void insertText(QJsonObject& object, QLatin1StringView key,
                const std::optional<std::string>& text) {
    if (text) {
        object.insert(key, QString::fromStdString(*text));
    }
}

void insertNumber(QJsonObject& object, QLatin1StringView key, const std::optional<double>& number) {
    if (number) {
        object.insert(key, *number);
    }
}

} // namespace

std::optional<TouchMessage> QtLineCodec::decode(std::string_view line) {
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(line.data(), static_cast<qsizetype>(line.size())), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = document.object();
    const QJsonValue kindValue = object.value(QLatin1StringView("kind"));
    if (!kindValue.isString()) {
        return std::nullopt;
    }
    const QByteArray kindText = kindValue.toString().toUtf8();
    const auto kind = kindFromRawValue(std::string_view(kindText.constData(), kindText.size()));
    if (!kind) {
        return std::nullopt;
    }
    TouchMessage m;
    m.kind = *kind;
    const bool valid = readText(object, QLatin1StringView("code"), m.code) &&
                       readNumber(object, QLatin1StringView("dx"), m.dx) &&
                       readNumber(object, QLatin1StringView("dy"), m.dy) &&
                       readNumber(object, QLatin1StringView("value"), m.value) &&
                       readText(object, QLatin1StringView("key"), m.key) &&
                       readWholeNumber(object, QLatin1StringView("modifiers"), m.modifiers) &&
                       readText(object, QLatin1StringView("hostID"), m.hostID) &&
                       readText(object, QLatin1StringView("clientID"), m.clientID) &&
                       readText(object, QLatin1StringView("token"), m.token);
    return valid ? std::optional<TouchMessage>(std::move(m)) : std::nullopt;
}

std::optional<Bytes> QtLineCodec::line(const TouchMessage& m) {
    if (!finite(m.dx) || !finite(m.dy) || !finite(m.value)) {
        return std::nullopt;
    }
    QJsonObject object;
    object.insert(QLatin1StringView("kind"), QLatin1StringView(rawValue(m.kind)));
    insertText(object, QLatin1StringView("code"), m.code);
    insertNumber(object, QLatin1StringView("dx"), m.dx);
    insertNumber(object, QLatin1StringView("dy"), m.dy);
    insertNumber(object, QLatin1StringView("value"), m.value);
    insertText(object, QLatin1StringView("key"), m.key);
    if (m.modifiers) {
        object.insert(QLatin1StringView("modifiers"), static_cast<qint64>(*m.modifiers));
    }
    insertText(object, QLatin1StringView("hostID"), m.hostID);
    insertText(object, QLatin1StringView("clientID"), m.clientID);
    insertText(object, QLatin1StringView("token"), m.token);
    const QByteArray json = QJsonDocument(object).toJson(QJsonDocument::Compact);
    Bytes bytes(json.constData(), static_cast<std::size_t>(json.size()));
    bytes += '\n';
    return bytes;
}

} // namespace corvane
