// The lower bound of the end-to-end benchmark (bench/run_e2e.sh): a plain
// program written for loxnar's one job, that reads the same entry data file
// and writes the same results file and console output byte for byte, with
// none of the run-time's generality, as fast as a plain program can be:
//   - the entry file is read whole and its values are taken by hand
//     (blanks, commas, r*c repeats), converted with std::from_chars;
//   - every field is edited by hand, with its width and places known when
//     the program is compiled: integers and places two digits at a time,
//     F fields from the exact value in 64-bit integers, rounded half away
//     from zero like the run-time, each field built right-aligned in a
//     blank buffer and copied whole;
//   - each table row is laid out once for both outputs, the records go
//     into 1 MiB blocks, and the clock is read into text once a second;
//   - of the plane table only the entry the listing can show beyond the
//     stored planes is cleared.
// The arithmetic of a case (reciprocal cell, walk, sort) is the
// calculator's own code: the same single-precision operations in the same
// order, the same sort order, with its vectorised walk that leaves out the
// rows no plane of the window can lie in.  What is measured against it is
// everything the run-time adds.
//
//   e2e_peer < answer > console      (like loxnar --console)
//
// It handles what the benchmark's cases hold: an entry name on standard
// input, cases of plain values, fields that fit (a field too narrow is
// filled with asterisks, but no diagnostic is shown), no denormal values.
#include <fcntl.h>
#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <sys/time.h>

#include "geometry.h"

using namespace calculator;

namespace {

// ---- output ------------------------------------------------------------

// An output file in 1 MiB blocks.  `line_open`: the last record ended
// without a line end (the prompt).
struct Out {
    int fd;
    char* buffer;
    std::size_t used = 0;
    bool line_open = false;
    static constexpr std::size_t kSize = 1 << 20;

    explicit Out(int fd_) : fd(fd_), buffer(static_cast<char*>(std::malloc(kSize))) {}
    void flush() {
        std::size_t done = 0;
        while (done < used) {
            const ssize_t n = ::write(fd, buffer + done, used - done);
            if (n <= 0) std::exit(38);
            done += static_cast<std::size_t>(n);
        }
        used = 0;
    }
    // Room for a record of up to n characters.
    char* record(std::size_t n) {
        if (used + n + 3 > kSize) flush();
        if (line_open) {
            buffer[used++] = '\n';
            line_open = false;
        }
        return buffer + used;
    }
    void end(char* at) {
        at[0] = '\r';
        at[1] = '\n';
        used = static_cast<std::size_t>(at + 2 - buffer);
    }
};

char* text(char* p, const char* s) {
    const std::size_t n = std::strlen(s);
    std::memcpy(p, s, n);
    return p + n;
}

char* blanks(char* p, int n) {
    std::memset(p, ' ', static_cast<std::size_t>(n));
    return p + n;
}

// Two digits at a time, as std::to_chars does.
constexpr char kPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The digits of v ending just before `end`; returns where they start.
char* digits_back(char* end, std::uint64_t v) {
    while (v >= 100) {
        end -= 2;
        std::memcpy(end, kPairs + 2 * (v % 100), 2);
        v /= 100;
    }
    if (v >= 10) {
        end -= 2;
        std::memcpy(end, kPairs + 2 * v, 2);
    } else {
        *--end = static_cast<char>('0' + v);
    }
    return end;
}

template <int D>
constexpr std::uint64_t kPow10 = 10 * kPow10<D - 1>;
template <>
constexpr std::uint64_t kPow10<0> = 1;

// Count first, then emit: a value of at most `room` digits fits beside the
// sign (one comparison with a constant); the field is then W blanks with
// the text right-aligned over them (written in place: no copy of small
// stores), and one that does not fit is W asterisks.
template <int W>
bool room_for(char* p, std::uint64_t v, int room, std::uint64_t limit) {
    if (room < 0 || v >= limit) {
        std::memset(p, '*', W);
        return false;
    }
    std::memset(p, ' ', W);
    return true;
}

// Iw of a 4-byte integer.
template <int W>
char* put_int(char* p, std::int32_t v) {
    const std::uint32_t magnitude = v < 0 ? 0u - static_cast<std::uint32_t>(v) : static_cast<std::uint32_t>(v);
    const bool negative = v < 0;
    if (room_for<W>(p, magnitude, W - negative, negative ? kPow10<W - 1> : kPow10<W>)) {
        char* q = digits_back(p + W, magnitude);
        if (negative) q[-1] = '-';
    }
    return p + W;
}

// Fw.d of a 4-byte real: the exact value m x 2^q times 10^d, rounded half
// away from zero; a zero (or a value that rounds to zero and is below one
// unit of the next place) without its sign; the optional zero before the
// point when there is room.  NaN and infinities as the run-time shows them.
template <int W, int D>
char* put_fixed(char* p, float x) {
    static_assert(D >= 1 && D <= 9 && W <= 24);
    std::uint32_t bits;
    std::memcpy(&bits, &x, 4);
    const std::uint32_t exp = (bits >> 23) & 0xFF;
    if (exp == 0xFF) {
        const char* s = (bits & 0x7FFFFF) ? "NaN" : (bits >> 31) ? "-Infinity" : "Infinity";
        const int n = static_cast<int>(std::strlen(s));
        if (n > W) return static_cast<char*>(std::memset(p, '*', W)) + W;
        std::memset(p, ' ', W);
        std::memcpy(n == W ? p : p + 1, s, static_cast<std::size_t>(n));
        return p + W;
    }
    if (exp == 0 && (bits & 0x7FFFFF)) {
        std::fputs("e2e_peer: denormal value\n", stderr);
        std::exit(2);
    }
    if (exp > 158) return static_cast<char*>(std::memset(p, '*', W)) + W;  // >= 2^32
    std::uint64_t r = 0;
    bool tiny = true;
    if (exp != 0) {
        const std::uint64_t n = ((bits & 0x7FFFFF) | 0x800000ull) * kPow10<D>;
        if (exp >= 150) {
            r = n << (exp - 150);
            tiny = false;
        } else if (exp >= 90) {
            const int s = 150 - static_cast<int>(exp);
            r = (n >> s) + ((n >> (s - 1)) & 1);
            tiny = r == 0 && n * 10 < (std::uint64_t(1) << s);
        }
    }
    const std::uint64_t integer = r / kPow10<D>;
    const bool negative = (bits >> 31) && !tiny;
    // Room for the integer digits beside the point, the places and the sign.
    constexpr int kRoom = W - 1 - D;
    const int room = kRoom - negative;
    if (!room_for<W>(p, integer, room, negative ? kPow10<(kRoom > 0 ? kRoom - 1 : 0)> : kPow10<(kRoom > 0 ? kRoom : 0)>))
        return p + W;
    char* q = p + W;
    std::uint64_t places = r - integer * kPow10<D>;
    for (int i = 0; i + 1 < D; i += 2) {
        q -= 2;
        std::memcpy(q, kPairs + 2 * (places % 100), 2);
        places /= 100;
    }
    if (D % 2) *--q = static_cast<char>('0' + places);
    *--q = '.';
    if (integer)
        q = digits_back(q, integer);
    else if (room >= 1)
        *--q = '0';  // the optional zero, when there is room for it
    if (negative) q[-1] = '-';
    return p + W;
}

// ---- input -------------------------------------------------------------

// The entry file, read whole, taken record by record.
struct In {
    std::string data;
    std::size_t pos = 0;

    // The next record, without its line end.
    bool record(const char*& begin, const char*& end) {
        if (pos >= data.size()) return false;
        const std::size_t stop = data.find('\n', pos);
        const std::size_t last = stop == std::string::npos ? data.size() : stop;
        begin = data.data() + pos;
        end = data.data() + last;
        if (end > begin && end[-1] == '\r') --end;
        pos = stop == std::string::npos ? data.size() : stop + 1;
        return true;
    }
};

// A list of values of one READ: `count` values as text, from a new record
// on; the rest of the last record is skipped.
struct Values {
    const char* begin[16];
    const char* end[16];
};

void read_values(In& in, int count, Values& v) {
    int got = 0;
    while (got < count) {
        const char *p, *stop;
        if (!in.record(p, stop)) {
            std::fputs("e2e_peer: end of file\n", stderr);
            std::exit(24);
        }
        while (got < count) {
            while (p < stop && (*p == ' ' || *p == ',' || *p == '\t')) ++p;
            if (p == stop) break;
            const char* token = p;
            while (p < stop && *p != ' ' && *p != ',' && *p != '\t') ++p;
            const char* star = static_cast<const char*>(std::memchr(token, '*', static_cast<std::size_t>(p - token)));
            int repeat = 1;
            if (star) {
                std::from_chars(token, star, repeat);
                token = star + 1;
            }
            for (int i = 0; i < repeat && got < count; ++i, ++got) v.begin[got] = token, v.end[got] = p;
        }
    }
}

float real_of(const Values& v, int i) {
    float x = 0;
    std::from_chars(v.begin[i], v.end[i], x);
    return x;
}

int int_of(const Values& v, int i) {
    int x = 0;
    const char* p = v.begin[i];
    if (*p == '+') ++p;
    std::from_chars(p, v.end[i], x);
    return x;
}

// ---- the records -------------------------------------------------------

struct Stamp {
    char date[8];
    char time[6];
};

// The local date and time, made into text once a second.
Stamp take_stamp() {
    static time_t last = -1;
    static Stamp s;
    timeval tv;
    gettimeofday(&tv, nullptr);
    if (tv.tv_sec == last) return s;
    last = tv.tv_sec;
    std::tm t;
    localtime_r(&tv.tv_sec, &t);
    char buf[16];
    std::strftime(buf, sizeof buf, "%Y%m%d", &t);
    std::memcpy(s.date, buf, 8);
    std::strftime(buf, sizeof buf, "%H%M%S", &t);
    std::memcpy(s.time, buf, 6);
    return s;
}

void stamp_block(Out& out, const char* first, const char* label, const Stamp& s) {
    char* p = out.record(64);
    p = text(p, first);
    out.end(p);
    p = out.record(64);
    p = text(p, " DATE : ");
    std::memcpy(p, s.date, 4), p[4] = '/', std::memcpy(p + 5, s.date + 4, 2), p[7] = '/';
    std::memcpy(p + 8, s.date + 6, 2);
    p = blanks(p + 10, 10);
    p = text(p, label);
    std::memcpy(p, s.time, 2), p[2] = 'h', std::memcpy(p + 3, s.time + 2, 2), p[5] = 'm', p[6] = 'n';
    std::memcpy(p + 7, s.time + 4, 2), p[9] = 's';
    out.end(p + 10);
}

void empty_record(Out& out) { out.end(out.record(0)); }

// One half of a table row.
char* half_row(char* p, int i, float angle) {
    p = put_int<4>(p, IH[i]);
    p = put_int<4>(p, IK[i]);
    p = put_int<4>(p, IL[i]);
    p = put_fixed<10, 5>(p, D[i]);
    std::memcpy(p, "   ", 3);
    p = put_fixed<6, 2>(p + 3, angle);
    std::memcpy(p, " :", 2);
    return p + 2;
}

}  // namespace

int main() {
    Out console(1);
    // The dialogue: banner, prompt, the name typed on the prompt's line.
    console.end(text(console.record(64), "     LOXNAR calculates d(hkl)"));
    char* p = text(console.record(64), "  entry .dat file (no extension) ??");
    console.used = static_cast<std::size_t>(p - console.buffer);
    console.line_open = true;

    char answer[64] = {};
    if (!std::fgets(answer, sizeof answer, stdin)) answer[0] = '\0';
    int n = 0;
    while (n < 20 && answer[n] && answer[n] != '\n' && answer[n] != '\r') ++n;
    while (n > 0 && answer[n - 1] == ' ') --n;
    const std::string entry(answer, static_cast<std::size_t>(n));
    std::string results = (entry + ".imp.dat").substr(0, 24);
    while (!results.empty() && results.back() == ' ') results.pop_back();

    In in;
    {
        const int fd = ::open((entry + ".dat").c_str(), O_RDONLY);
        if (fd < 0) {
            std::fputs("e2e_peer: no entry file\n", stderr);
            return 29;
        }
        char block[1 << 16];
        ssize_t got;
        while ((got = ::read(fd, block, sizeof block)) > 0) in.data.append(block, static_cast<std::size_t>(got));
        ::close(fd);
    }
    if (::access(results.c_str(), F_OK) == 0) {
        char* w = text(console.record(80), " warning, this old file will be deleted :");
        std::memset(w, ' ', 24);
        std::memcpy(w, results.data(), results.size());
        console.end(w + 24);
        ::unlink(results.c_str());
    }
    Out file(::open(results.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0666));
    if (file.fd < 0) return 10;

    Stamp stamp = take_stamp();
    for (;;) {
        for (Out* out : {&console, &file}) stamp_block(*out, " LOXNAR RESULTS", "STARTING TIME :  ", stamp);
        NPLANES = 0;

        // The title: 72 characters, blanks after a short record.
        const char *t0, *t1;
        if (!in.record(t0, t1)) return 24;
        const std::size_t title = static_cast<std::size_t>(t1 - t0) < 72 ? static_cast<std::size_t>(t1 - t0) : 72;
        p = file.record(72);
        std::memcpy(p, t0, title);
        std::memset(p + title, ' ', 72 - title);
        file.end(p + 72);

        Values v;
        read_values(in, 6, v);
        for (int i = 0; i < 6; ++i) CELL[i] = real_of(v, i);
        p = text(file.record(80), " A = ");
        p = put_fixed<8, 4>(p, CELL[0]);
        p = text(blanks(p, 5), "B = ");
        p = put_fixed<8, 4>(p, CELL[1]);
        p = text(blanks(p, 5), "C = ");
        p = put_fixed<8, 4>(p, CELL[2]);
        file.end(p);
        p = text(file.record(80), "ALPHA = ");
        p = put_fixed<8, 3>(p, CELL[3]);
        p = text(blanks(p, 5), "BETA = ");
        p = put_fixed<8, 3>(p, CELL[4]);
        p = text(blanks(p, 5), "GAMMA = ");
        p = put_fixed<8, 3>(p, CELL[5]);
        file.end(p);
        empty_record(file);
        const float degree = 0.017453294f;
        for (int i = 3; i < 6; ++i) CELL[i] = CELL[i] * degree;

        read_values(in, 13, v);
        for (int i = 0; i < 7; ++i) COND[i] = int_of(v, i);
        DMIN = real_of(v, 7), DMAX = real_of(v, 8);
        HMAX = int_of(v, 9), KMAX = int_of(v, 10), LMAX = int_of(v, 11);
        LAMBDA = real_of(v, 12);
        if (HMAX == 0) HMAX = 8;
        if (KMAX == 0) KMAX = 8;
        if (LMAX == 0) LMAX = 8;
        p = text(file.record(80), " D MINIMUM =");
        p = put_fixed<6, 2>(p, DMIN);
        p = text(blanks(p, 10), "D MAXIMUM =");
        p = put_fixed<6, 2>(p, DMAX);
        file.end(p);
        p = text(file.record(80), "  HMAX =");
        p = put_int<4>(p, HMAX);
        p = text(blanks(p, 10), "KMAX =");
        p = put_int<4>(p, KMAX);
        p = text(blanks(p, 10), " LMAX =");
        p = put_int<4>(p, LMAX);
        file.end(p);
        p = text(file.record(80), " LAMBDA =");
        p = put_fixed<8, 4>(p, LAMBDA);
        file.end(p);
        empty_record(file);

        RECIPROCAL_CELL();
        ENUMERATE_PLANES(IH, IK, IL, D, THETA, NPLANES);
        // The right half of the last row of an odd count shows the entry
        // after the last plane: the one entry of the cleared table the
        // listing can show.
        if (NPLANES < MAX_PLANES) IH[NPLANES] = IK[NPLANES] = IL[NPLANES] = 0, D[NPLANES] = THETA[NPLANES] = 0.0f;
        p = text(file.record(80), " NUMBER OF CALCULATED PLANES =");
        file.end(put_int<4>(p, NPLANES));
        empty_record(file);

        if (NPLANES >= 2) {
            SORT_PLANES();
            static const char kHeader[] = "   H   K   L      D      2 THET :   H   K   L      D      2 THET :";
            for (Out* out : {&file, &console}) out->end(text(out->record(66), kHeader));
            const int rows = (NPLANES + 1) / 2;
            for (int r = 0; r < rows; ++r) {
                const int s = rows + r;
                const float left = 2.0f * THETA[r], right = 2.0f * THETA[s];
                char* row = file.record(66);
                half_row(half_row(row, r, left), s, right);
                file.end(row + 66);
                char* copy = console.record(66);
                std::memcpy(copy, row, 66);
                console.end(copy + 66);
            }
        }

        stamp = take_stamp();
        for (Out* out : {&console, &file}) stamp_block(*out, " ENDING", "ENDING TIME   :  ", stamp);
        read_values(in, 1, v);
        if (int_of(v, 0) == 0) break;
        file.end(text(file.record(8), "1"));
    }
    file.flush();
    console.flush();
    ::close(file.fd);
    return 0;
}
