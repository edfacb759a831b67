#include "toolkit/textface.h"

#include <QChar>
#include <QFile>
#include <QFontDatabase>

#include <fontconfig/fontconfig.h>

#include <algorithm>
#include <array>
#include <map>
#include <memory>
#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace toolkit {

namespace {

constexpr quint32 tag(const char (&name)[5])
{
    return quint32(quint8(name[0])) << 24 | quint32(quint8(name[1])) << 16 | quint32(quint8(name[2])) << 8
           | quint32(quint8(name[3]));
}

// Big-endian reads that never leave the file: a read past its end yields 0
// and marks the whole reading as failed.
class Bytes
{
public:
    explicit Bytes(const QByteArray &data) : m_data(data) {}

    quint32 u16(qint64 at) { return read(at, 2); }
    quint32 u32(qint64 at) { return read(at, 4); }
    bool holds(qint64 at, qint64 length) const { return at >= 0 && length >= 0 && at + length <= m_data.size(); }
    QByteArray mid(qint64 at, qint64 length)
    {
        if (!holds(at, length)) {
            m_ok = false;
            return {};
        }
        return m_data.mid(at, length);
    }
    bool ok() const { return m_ok; }

private:
    quint32 read(qint64 at, int size)
    {
        if (!holds(at, size)) {
            m_ok = false;
            return 0;
        }
        quint32 value = 0;
        for (int i = 0; i < size; ++i)
            value = value << 8 | quint8(m_data[at + i]);
        return value;
    }

    const QByteArray &m_data;
    bool m_ok = true;
};

void put16(QByteArray &out, quint32 value)
{
    out.append(char(value >> 8)).append(char(value));
}

void put32(QByteArray &out, quint32 value)
{
    put16(out, value >> 16);
    put16(out, value);
}

using CharacterMap = std::map<char32_t, quint32>; // character → glyph

// The largest number of characters a map may hold: all of Unicode.
constexpr qint64 kCharacters = 0x110000;

bool readFormat12(Bytes &bytes, qint64 at, CharacterMap &map)
{
    const quint32 groups = bytes.u32(at + 12);
    if (!bytes.holds(at + 16, qint64(groups) * 12))
        return false;
    qint64 total = 0;
    for (quint32 g = 0; g < groups; ++g) {
        const qint64 group = at + 16 + qint64(g) * 12;
        const quint32 first = bytes.u32(group), last = bytes.u32(group + 4), glyph = bytes.u32(group + 8);
        total += qint64(last) - first + 1;
        if (last < first || last >= kCharacters || total > kCharacters)
            return false;
        for (quint32 c = first; c <= last; ++c)
            map[c] = glyph + (c - first);
    }
    return bytes.ok();
}

bool readFormat4(Bytes &bytes, qint64 at, CharacterMap &map)
{
    const qint64 segments = bytes.u16(at + 6) / 2;
    const qint64 ends = at + 14, starts = ends + segments * 2 + 2, deltas = starts + segments * 2,
                 ranges = deltas + segments * 2;
    for (qint64 s = 0; s < segments && bytes.ok(); ++s) {
        const quint32 last = bytes.u16(ends + s * 2), first = bytes.u16(starts + s * 2);
        const quint32 delta = bytes.u16(deltas + s * 2), range = bytes.u16(ranges + s * 2);
        for (quint32 c = first; c <= last && c < 0xFFFF && bytes.ok(); ++c) {
            quint32 glyph = 0;
            if (range == 0) {
                glyph = (c + delta) & 0xFFFF;
            } else if (const quint32 index = bytes.u16(ranges + s * 2 + range + (c - first) * 2)) {
                glyph = (index + delta) & 0xFFFF;
            }
            if (glyph)
                map[c] = glyph;
        }
    }
    return bytes.ok();
}

struct Cmap
{
    CharacterMap characters;
    QByteArray variations; // the variation sequences' subtable, kept as it is
};

std::optional<Cmap> readCmap(Bytes &bytes, qint64 at)
{
    Cmap cmap;
    qint64 best = -1;
    int bestRank = 0;
    const quint32 records = bytes.u16(at + 2);
    for (quint32 r = 0; r < records && bytes.ok(); ++r) {
        const qint64 record = at + 4 + qint64(r) * 8;
        const quint32 platform = bytes.u16(record), encoding = bytes.u16(record + 2);
        const qint64 subtable = at + bytes.u32(record + 4);
        const quint32 format = bytes.u16(subtable);
        if (platform == 0 && encoding == 5 && format == 14)
            cmap.variations = bytes.mid(subtable, bytes.u32(subtable + 2));
        const bool unicode = platform == 0 || (platform == 3 && (encoding == 1 || encoding == 10));
        const int rank = !unicode ? 0 : format == 12 ? 2 : format == 4 ? 1 : 0;
        if (rank > bestRank) {
            bestRank = rank;
            best = subtable;
        }
    }
    if (best < 0 || !bytes.ok())
        return std::nullopt;
    const bool read = bestRank == 2 ? readFormat12(bytes, best, cmap.characters)
                                    : readFormat4(bytes, best, cmap.characters);
    if (!read || cmap.characters.empty())
        return std::nullopt;
    return cmap;
}

// A character that a font draws with another's glyph, and that text means far
// less often than that other: the radicals beside their ideographs, marks,
// format characters, modifier letters and the typographic spaces.
bool standsIn(char32_t c)
{
    if (c >= 0x2E80 && c <= 0x2FDF)
        return true;
    switch (QChar::category(c)) {
    case QChar::Mark_NonSpacing:
    case QChar::Mark_Enclosing:
    case QChar::Other_Format:
    case QChar::Letter_Modifier:
        return true;
    case QChar::Separator_Space:
        return c != U' ' && c != U'\u3000';
    default:
        return false;
    }
}

// Leaves each shared glyph's lowest character the one text means.
void dropStandIns(CharacterMap &map)
{
    std::map<quint32, char32_t> meant; // glyph → character
    const auto rank = [](char32_t c) { return std::pair(standsIn(c), c); };
    for (const auto &[c, glyph] : map) {
        const auto found = meant.find(glyph);
        if (found == meant.end() || rank(c) < rank(found->second))
            meant[glyph] = c;
    }
    std::erase_if(map, [&meant](const auto &entry) { return entry.first < meant.at(entry.second); });
}

QByteArray cmapTable(const Cmap &cmap)
{
    // Runs of consecutive characters on consecutive glyphs: first, last, glyph.
    std::vector<std::array<quint32, 3>> runs;
    for (const auto &[c, glyph] : cmap.characters) {
        if (!runs.empty()) {
            auto &run = runs.back();
            if (c == run[1] + 1 && glyph == run[2] + (c - run[0])) {
                run[1] = c;
                continue;
            }
        }
        runs.push_back({quint32(c), quint32(c), glyph});
    }
    QByteArray groups;
    for (const auto &run : runs)
        for (const quint32 value : run)
            put32(groups, value);

    const quint32 subtables = cmap.variations.isEmpty() ? 1 : 2;
    QByteArray table;
    put16(table, 0);
    put16(table, subtables);
    qint64 offset = 4 + 8 * subtables;
    // Subtables are listed by platform and encoding: Unicode variations first.
    if (!cmap.variations.isEmpty()) {
        put16(table, 0);
        put16(table, 5);
        put32(table, offset);
        offset += cmap.variations.size();
    }
    put16(table, 3);
    put16(table, 10);
    put32(table, offset);
    table.append(cmap.variations);
    put16(table, 12);
    put16(table, 0);
    put32(table, 16 + groups.size());
    put32(table, 0);
    put32(table, quint32(runs.size()));
    table.append(groups);
    return table;
}

struct Name
{
    quint32 platform, encoding, language, id;
    QByteArray text;
};

// The names without the family's, which are `family` in English alone.
std::optional<QByteArray> nameTable(Bytes &bytes, qint64 at, const QString &family)
{
    const quint32 count = bytes.u16(at + 2);
    const qint64 strings = at + bytes.u16(at + 4);
    std::vector<Name> names;
    for (quint32 r = 0; r < count && bytes.ok(); ++r) {
        const qint64 record = at + 6 + qint64(r) * 12;
        Name name{bytes.u16(record), bytes.u16(record + 2), bytes.u16(record + 4), bytes.u16(record + 6), {}};
        name.text = bytes.mid(strings + bytes.u16(record + 10), bytes.u16(record + 8));
        const bool familyName = name.id == 1 || name.id == 3 || name.id == 4 || (name.id >= 16 && name.id <= 18)
                                || name.id == 21 || name.id == 22;
        // Languages above 0x8000 point into a language-tag list not carried over.
        if (!familyName && name.language < 0x8000)
            names.push_back(name);
    }
    if (!bytes.ok())
        return std::nullopt;
    QByteArray english;
    for (const QChar ch : family)
        put16(english, ch.unicode());
    for (const quint32 id : {1, 3, 4})
        names.push_back({3, 1, 0x409, id, english});
    std::sort(names.begin(), names.end(), [](const Name &a, const Name &b) {
        return std::tie(a.platform, a.encoding, a.language, a.id) < std::tie(b.platform, b.encoding, b.language, b.id);
    });

    QByteArray table, text;
    put16(table, 0);
    put16(table, quint32(names.size()));
    put16(table, quint32(6 + names.size() * 12));
    for (const Name &name : names) {
        for (const quint32 value : {name.platform, name.encoding, name.language, name.id})
            put16(table, value);
        put16(table, quint32(name.text.size()));
        put16(table, quint32(text.size()));
        text.append(name.text);
    }
    if (text.size() > 0xFFFF)
        return std::nullopt;
    return table + text;
}

quint32 checksum(const QByteArray &padded)
{
    quint32 sum = 0;
    for (qsizetype at = 0; at + 4 <= padded.size(); at += 4)
        sum += quint32(quint8(padded[at])) << 24 | quint32(quint8(padded[at + 1])) << 16
               | quint32(quint8(padded[at + 2])) << 8 | quint32(quint8(padded[at + 3]));
    return sum;
}

struct Table
{
    quint32 tag;
    QByteArray data;
};

QByteArray assemble(quint32 version, std::vector<Table> tables)
{
    std::sort(tables.begin(), tables.end(), [](const Table &a, const Table &b) { return a.tag < b.tag; });
    const quint32 count = quint32(tables.size());
    quint32 selector = 0;
    while ((2u << selector) <= count)
        ++selector;
    const quint32 searchRange = 16u << selector;

    QByteArray directory, body;
    put32(directory, version);
    put16(directory, count);
    put16(directory, searchRange);
    put16(directory, selector);
    put16(directory, count * 16 - searchRange);
    const qint64 start = 12 + qint64(count) * 16;
    qint64 head = -1;
    for (Table &table : tables) {
        const qint64 length = table.data.size();
        if (table.tag == tag("head") && length >= 12) {
            head = start + body.size();
            table.data.replace(8, 4, QByteArray(4, '\0')); // the adjustment, worked out below
        }
        table.data.append(QByteArray((4 - length % 4) % 4, '\0'));
        put32(directory, table.tag);
        put32(directory, checksum(table.data));
        put32(directory, quint32(start + body.size()));
        put32(directory, quint32(length));
        body.append(table.data);
    }
    QByteArray font = directory + body;
    if (head >= 0) {
        QByteArray adjustment;
        put32(adjustment, 0xB1B0AFBA - checksum(font));
        font.replace(head + 8, 4, adjustment);
    }
    return font;
}

// The installed file of `family` itself, not a face that fontconfig would
// put in its place.
QString fontFile(const QString &family)
{
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> pattern(FcPatternCreate(), &FcPatternDestroy);
    if (!pattern)
        return {};
    const QByteArray name = family.toUtf8();
    FcPatternAddString(pattern.get(), FC_FAMILY, reinterpret_cast<const FcChar8 *>(name.constData()));
    FcConfigSubstitute(nullptr, pattern.get(), FcMatchPattern);
    FcDefaultSubstitute(pattern.get());
    FcResult result = FcResultNoMatch;
    const std::unique_ptr<FcPattern, decltype(&FcPatternDestroy)> match(
        FcFontMatch(nullptr, pattern.get(), &result), &FcPatternDestroy);
    if (!match)
        return {};
    bool same = false;
    FcChar8 *value = nullptr;
    for (int i = 0; !same && FcPatternGetString(match.get(), FC_FAMILY, i, &value) == FcResultMatch; ++i)
        same = QString::fromUtf8(reinterpret_cast<const char *>(value)) == family;
    int index = 0;
    FcPatternGetInteger(match.get(), FC_INDEX, 0, &index);
    if (!same || index != 0 || FcPatternGetString(match.get(), FC_FILE, 0, &value) != FcResultMatch)
        return {};
    return QFile::decodeName(reinterpret_cast<const char *>(value));
}

} // namespace

QByteArray withTextCharacterMap(const QByteArray &font, const QString &family)
{
    Bytes bytes(font);
    const quint32 version = bytes.u32(0);
    if (version != 0x00010000 && version != tag("OTTO") && version != tag("true"))
        return {};
    std::vector<Table> tables;
    std::optional<Cmap> cmap;
    std::optional<QByteArray> names;
    const quint32 count = bytes.u16(4);
    for (quint32 t = 0; t < count && bytes.ok(); ++t) {
        const qint64 record = 12 + qint64(t) * 16;
        const quint32 name = bytes.u32(record);
        const qint64 offset = bytes.u32(record + 8), length = bytes.u32(record + 12);
        if (!bytes.holds(offset, length))
            return {};
        if (name == tag("cmap")) {
            cmap = readCmap(bytes, offset);
            if (!cmap)
                return {};
            dropStandIns(cmap->characters);
            tables.push_back({name, cmapTable(*cmap)});
        } else if (name == tag("name")) {
            names = nameTable(bytes, offset, family);
            if (!names)
                return {};
            tables.push_back({name, *names});
        } else {
            tables.push_back({name, bytes.mid(offset, length)});
        }
    }
    if (!bytes.ok() || !cmap || !names)
        return {};
    return assemble(version, std::move(tables));
}

QString registerTextFace(const QString &family, const QString &alias)
{
    const QString path = fontFile(family);
    if (path.isEmpty())
        return {};
    QFile file(path);
    // A Japanese face is some megabytes; anything far larger is not one.
    constexpr qint64 kLargest = 64 * 1024 * 1024;
    if (file.size() > kLargest || !file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray derived = withTextCharacterMap(file.readAll(), alias);
    if (derived.isEmpty())
        return {};
    const int id = QFontDatabase::addApplicationFontFromData(derived);
    if (id < 0)
        return {};
    if (!QFontDatabase::applicationFontFamilies(id).contains(alias)) {
        QFontDatabase::removeApplicationFont(id);
        return {};
    }
    return alias;
}

} // namespace toolkit
