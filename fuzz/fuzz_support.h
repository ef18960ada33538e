// SPDX-License-Identifier: GPL-3.0-or-later

// Helpers shared by the fuzz targets: turning the fuzzer's bytes into texts
// and reporting a broken property. The reference implementations the record
// store is compared with are the tests' own, in tests/reference.h.
#pragma once

#include <cstddef>
#include <cstdint>

#include <QString>
#include <QStringList>

namespace Fuzz {

// The fuzzer's bytes, split off one field at a time.
class Input final
{
public:
    Input(const uint8_t *data, std::size_t size);

    bool empty() const;
    uint8_t takeByte();
    // A number from the next `bytes` bytes (little-endian, at most 8).
    uint64_t takeNumber(int bytes);
    // A text from the bytes up to the next 0 byte (or the end). Odd `mode`
    // reads them as UTF-16 code units, so lone surrogates occur; even `mode`
    // reads UTF-8, where the byte 1 followed by a byte n stands for n * 200
    // copies of "x", so that a short input can reach the pick's 16-bit limits.
    QString takeText(uint8_t mode);
    QByteArray takeRest();

private:
    const uint8_t *m_data;
    std::size_t m_size;
};

// Prints `what`, the texts involved, and aborts, so that the fuzzer keeps the
// input that broke the property.
[[noreturn]] void fail(const char *what, const QStringList &details = {});
void check(bool holds, const char *what, const QStringList &details = {});

// A text shown in a failure report: control characters escaped, long texts cut.
QString shown(const QString &text);

} // namespace Fuzz
