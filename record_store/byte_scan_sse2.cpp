// SPDX-License-Identifier: GPL-3.0-or-later

// The vector part of the byte scans with SSE2, sixteen bytes at a time, for
// x86 and x86-64 with GCC or Clang (see byte_scan.cpp for the plain loops that
// finish each scan, and byte_scan_portable.cpp for the counterpart without
// intrinsics).
#include <cstring>
#include <immintrin.h>

#include "record_store/byte_scan.h"

namespace RecordStore::Internal::Vector {

namespace {

__m128i load16(const char *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

__m128i load8(const char16_t *at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// Each of the eight characters `here` that lies between CR and U+2028, which
// no line end is.
__m128i betweenLineEnds(__m128i here)
{
    return _mm_and_si128(_mm_cmpgt_epi16(here, _mm_set1_epi16(u'\r')),
                         _mm_cmplt_epi16(here, _mm_set1_epi16(0x2028)));
}

// The screen of findBytes below, thirty-two positions at a time, on a
// processor with AVX2; returns the first position it did not screen.
__attribute__((target("avx2"))) qsizetype findBytes32(const char *data, qsizetype lastStart,
                                                      QByteArrayView needle, qsizetype at,
                                                      qsizetype &hit)
{
    const qsizetype n = needle.size();
    const __m256i first = _mm256_set1_epi8(needle.front());
    const __m256i last = _mm256_set1_epi8(needle.back());
    for (; at + 31 <= lastStart; at += 32) {
        const __m256i starts = _mm256_cmpeq_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + at)), first);
        const __m256i ends = _mm256_cmpeq_epi8(
            _mm256_loadu_si256(reinterpret_cast<const __m256i *>(data + at + n - 1)), last);
        for (unsigned candidates = unsigned(_mm256_movemask_epi8(_mm256_and_si256(starts, ends)));
             candidates; candidates &= candidates - 1) {
            const qsizetype candidate = at + __builtin_ctz(candidates);
            if (std::memcmp(data + candidate + 1, needle.data() + 1, size_t(n - 2)) == 0) {
                hit = candidate;
                return -1;
            }
        }
    }
    return at;
}

} // namespace

// Sixteen candidate positions at a time (thirty-two with AVX2) are screened by
// the needle's first and last byte; only those that pass both are compared
// whole.
qsizetype findBytes(QByteArrayView bytes, QByteArrayView needle, qsizetype from, qsizetype &hit)
{
    const char *data = bytes.data();
    const qsizetype n = needle.size();
    const qsizetype lastStart = bytes.size() - n;
    static const bool wide = __builtin_cpu_supports("avx2");
    qsizetype at = wide ? findBytes32(data, lastStart, needle, from, hit) : from;
    if (at < 0)
        return -1;
    const __m128i first = _mm_set1_epi8(needle.front());
    const __m128i last = _mm_set1_epi8(needle.back());
    for (; at + 15 <= lastStart; at += 16) {
        const __m128i starts = _mm_cmpeq_epi8(load16(data + at), first);
        const __m128i ends = _mm_cmpeq_epi8(load16(data + at + n - 1), last);
        unsigned candidates = unsigned(_mm_movemask_epi8(_mm_and_si128(starts, ends)));
        while (candidates) {
            const qsizetype candidate = at + __builtin_ctz(candidates);
            if (std::memcmp(data + candidate + 1, needle.data() + 1, size_t(n - 2)) == 0) {
                hit = candidate;
                return -1;
            }
            candidates &= candidates - 1;
        }
    }
    return at;
}

// The same screen for every needle at once: a position passes when it holds
// the first and the last byte of one of them.
qsizetype findAnyBytes(QByteArrayView bytes, const QList<QByteArray> &needles, qsizetype from,
                       qsizetype &hit)
{
    const char *data = bytes.data();
    const qsizetype count = needles.size();
    const qsizetype n = needles.front().size();
    const qsizetype lastStart = bytes.size() - n;
    __m128i firsts[kMostNeedles];
    __m128i lasts[kMostNeedles];
    for (qsizetype k = 0; k < count; ++k) {
        firsts[k] = _mm_set1_epi8(needles[k].front());
        lasts[k] = _mm_set1_epi8(needles[k].back());
    }
    qsizetype at = from;
    for (; at + 15 <= lastStart; at += 16) {
        const __m128i starts = load16(data + at);
        const __m128i ends = load16(data + at + n - 1);
        __m128i pass = _mm_setzero_si128();
        for (qsizetype k = 0; k < count; ++k)
            pass = _mm_or_si128(pass, _mm_and_si128(_mm_cmpeq_epi8(starts, firsts[k]),
                                                    _mm_cmpeq_epi8(ends, lasts[k])));
        for (unsigned candidates = unsigned(_mm_movemask_epi8(pass)); candidates;
             candidates &= candidates - 1) {
            const qsizetype candidate = at + __builtin_ctz(candidates);
            for (const QByteArray &needle : needles) {
                if (std::memcmp(data + candidate, needle.constData(), size_t(n)) == 0) {
                    hit = candidate;
                    return -1;
                }
            }
        }
    }
    return at;
}

qsizetype asciiPrefix(QByteArrayView bytes)
{
    qsizetype at = 0;
    __m128i any = _mm_setzero_si128();
    for (; at + 16 <= bytes.size(); at += 16)
        any = _mm_or_si128(any, load16(bytes.data() + at));
    return _mm_movemask_epi8(any) != 0 ? -1 : at;
}

qsizetype plainLinesPrefix(QByteArrayView bytes)
{
    const char *data = bytes.data();
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    __m128i bad = _mm_setzero_si128();
    qsizetype at = 0;
    for (; at + 17 <= bytes.size(); at += 16) {
        const __m128i here = load16(data + at);
        const __m128i next = load16(data + at + 1);
        bad = _mm_or_si128(bad, _mm_xor_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf)));
        bad = _mm_or_si128(bad, _mm_and_si128(_mm_cmpeq_epi8(here, lf), _mm_cmpeq_epi8(next, cr)));
    }
    return _mm_movemask_epi8(bad) != 0 ? -1 : at;
}

qsizetype widenPlainAscii(QByteArrayView bytes, qsizetype from, char16_t *to)
{
    const char *data = bytes.data();
    const __m128i cr = _mm_set1_epi8('\r');
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i zero = _mm_setzero_si128();
    qsizetype at = from;
    for (; at + 17 <= bytes.size(); at += 16, to += 16) {
        const __m128i here = load16(data + at);
        const __m128i next = load16(data + at + 1);
        const __m128i lfHere = _mm_cmpeq_epi8(here, lf);
        __m128i other = _mm_xor_si128(_mm_cmpeq_epi8(here, cr), _mm_cmpeq_epi8(next, lf));
        other = _mm_or_si128(other, _mm_and_si128(lfHere, _mm_cmpeq_epi8(next, cr)));
        other = _mm_or_si128(other,
                             _mm_andnot_si128(_mm_cmpeq_epi8(load16(data + at - 1), cr), lfHere));
        // All sixteen are widened; those from the first that may not be
        // (the sign bits of `here` are the bytes from 0x80 on) are left to
        // the plain loop, which writes its own over them.
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to), _mm_unpacklo_epi8(here, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(to + 8), _mm_unpackhi_epi8(here, zero));
        if (const int stop = _mm_movemask_epi8(_mm_or_si128(other, here)); stop != 0)
            return at + __builtin_ctz(unsigned(stop));
    }
    return at;
}

// Eight characters at a time, each with the ones before and after it. The
// compares are signed: the characters from U+8000 on count as below CR, and so
// are found, as they should be.
qsizetype plainLineCharsPrefix(QStringView text, qsizetype from)
{
    const char16_t *data = text.utf16();
    const __m128i cr = _mm_set1_epi16(u'\r');
    const __m128i lf = _mm_set1_epi16(u'\n');
    qsizetype at = from;
    for (; at + 9 <= text.size(); at += 8) {
        const __m128i here = load8(data + at);
        const __m128i before = load8(data + at - 1);
        const __m128i crHere = _mm_cmpeq_epi16(here, cr);
        const __m128i keptCr =
            _mm_andnot_si128(_mm_cmpeq_epi16(before, lf),
                             _mm_and_si128(crHere, _mm_cmpeq_epi16(load8(data + at + 1), lf)));
        const __m128i keptLf =
            _mm_and_si128(_mm_cmpeq_epi16(here, lf), _mm_cmpeq_epi16(before, cr));
        const __m128i kept = _mm_or_si128(betweenLineEnds(here), _mm_or_si128(keptCr, keptLf));
        const unsigned other = ~unsigned(_mm_movemask_epi8(kept)) & 0xFFFFu;
        if (other != 0)
            return at + __builtin_ctz(other) / 2;
    }
    return at;
}

qsizetype charsBetweenLineEnds(QStringView text, qsizetype from)
{
    const char16_t *data = text.utf16();
    qsizetype at = from;
    for (; at + 8 <= text.size(); at += 8) {
        const unsigned other =
            ~unsigned(_mm_movemask_epi8(betweenLineEnds(load8(data + at)))) & 0xFFFFu;
        if (other != 0)
            return at + __builtin_ctz(other) / 2;
    }
    return at;
}

} // namespace RecordStore::Internal::Vector
