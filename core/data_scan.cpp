// Formatted reading from a DataFile with the C library's scanning rules, so
// that data written for (and tested against) sscanf reads the same here,
// down to how many characters a failed conversion leaves consumed.
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "core/core.h"

namespace {

int is_space(int c) { return c == ' ' || (c >= '\t' && c <= '\r'); }
int is_digit(int c) { return c >= '0' && c <= '9'; }
int is_xdigit(int c) { return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int to_lower(int c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

enum Size { SIZE_CHAR, SIZE_SHORT, SIZE_INT, SIZE_LONG, SIZE_LONGLONG };

// The input as the scanner sees it: one byte read ahead can be put back,
// and the count of bytes consumed serves "%n".
struct Input {
  DataFile *f;
  int read_in;
  int get() {
    int c = data_getc(f);
    if (c >= 0) read_in++;
    return c;
  }
  void unget(int c) {
    if (c < 0) return;
    data_ungetc(f, c);
    read_in--;
  }
};

void store_int(va_list &ap, Size size, long long v) {
  switch (size) {
    case SIZE_CHAR: *va_arg(ap, char *) = static_cast<char>(v); break;
    case SIZE_SHORT: *va_arg(ap, short *) = static_cast<short>(v); break;
    case SIZE_INT: *va_arg(ap, int *) = static_cast<int>(v); break;
    case SIZE_LONG: *va_arg(ap, long *) = static_cast<long>(v); break;
    case SIZE_LONGLONG: *va_arg(ap, long long *) = v; break;
  }
}

// Reads a floating-point field into buf. 1 when the text may be a number,
// 0 for a matching failure, -1 when the input ended at once.
int scan_float_text(Input &in, int &width, std::string &buf) {
  int c = in.get();
  if (width > 0) --width;
  if (c < 0) return -1;
  size_t got_sign = 0;
  if (c == '-' || c == '+') {
    got_sign = 1;
    buf += static_cast<char>(c);
    if (width == 0 || (c = in.get()) < 0) return 0;
    if (width > 0) --width;
  }
  // "nan", "inf" and "infinity": a wrong letter is consumed, as stdio does.
  if (to_lower(c) == 'n' || to_lower(c) == 'i') {
    const char *word = to_lower(c) == 'n' ? "nan" : "infinity";
    buf += static_cast<char>(c);
    for (int k = 1; word[k]; k++) {
      if (k == 3) {
        if (width == 0 || (c = in.get()) < 0) return 1;
        if (to_lower(c) != 'i') {
          in.unget(c);
          return 1;
        }
        if (width > 0) --width;
        buf += static_cast<char>(c);
        continue;
      }
      if (width == 0 || (c = in.get()) < 0 || to_lower(c) != word[k]) return 0;
      if (width > 0) --width;
      buf += static_cast<char>(c);
    }
    return 1;
  }
  int exp_char = 'e';
  int hex = 0, got_digit = 0, got_dot = 0, got_e = 0;
  if (width != 0 && c == '0') {
    buf += '0';
    c = in.get();
    if (width > 0) --width;
    if (width != 0 && to_lower(c) == 'x') {
      buf += static_cast<char>(c);
      hex = 1;
      exp_char = 'p';
      c = in.get();
      if (width > 0) --width;
    } else {
      got_digit = 1;  // "0x" alone is no digit, a plain "0" is
    }
  }
  for (;;) {
    if (is_digit(c) || (!got_e && hex && is_xdigit(c))) {
      buf += static_cast<char>(c);
      got_digit = 1;
    } else if (got_e && to_lower(buf.back()) == exp_char && (c == '-' || c == '+')) {
      buf += static_cast<char>(c);
    } else if (got_digit && !got_e && to_lower(c) == exp_char) {
      buf += static_cast<char>(exp_char);
      got_e = got_dot = 1;
    } else if (!got_dot && c == '.') {
      buf += '.';
      got_dot = 1;
    } else {
      in.unget(c);
      break;
    }
    if (width == 0 || (c = in.get()) < 0) break;
    if (width > 0) --width;
  }
  if (buf.size() == got_sign || (hex && buf.size() == 2 + got_sign)) return 0;
  return 1;
}

// Fills set[256] from a "[...]" set starting at *pf (just past "["); the
// format position moves past the closing "]". 0 when the set is unterminated.
int parse_set(const unsigned char **pf, unsigned char set[256], int &negate) {
  const unsigned char *f = *pf;
  memset(set, 0, 256);
  negate = 0;
  if (*f == '^') {
    negate = 1;
    f++;
  }
  if (*f == ']' || *f == '-') set[*f++] = 1;
  int fc;
  while ((fc = *f++) != 0 && fc != ']') {
    if (fc == '-' && *f != 0 && *f != ']' && f[-2] <= *f) {
      // A range: from the byte before "-" up to the next one, which the
      // next round adds.
      for (int c = f[-2]; c < *f; c++) set[c] = 1;
    } else {
      set[fc] = 1;
    }
  }
  *pf = f;
  return fc != 0;
}

}  // namespace

int data_vscanf(DataFile *f, const char *format, va_list ap_in) {
  va_list ap;
  va_copy(ap, ap_in);
  Input in{f, 0};
  int done = 0;
  int skip_space = 0;
  int c;
  const unsigned char *p = reinterpret_cast<const unsigned char *>(format);
  std::string buf;

  while (*p) {
    int fc = *p++;
    if (fc != '%') {
      if (is_space(fc)) {
        skip_space = 1;
        continue;
      }
      c = in.get();
      if (c < 0) goto input_error;
      if (skip_space) {
        while (is_space(c))
          if ((c = in.get()) < 0) goto input_error;
        skip_space = 0;
      }
      if (c != fc) {
        in.unget(c);
        goto out;
      }
      continue;
    }

    {
      int suppress = 0;
      int width = 0;
      Size size = SIZE_INT;
      int long_double = 0;
      if (*p == '*') {
        suppress = 1;
        p++;
      }
      while (is_digit(*p)) {
        if (width < INT_MAX / 10) width = width * 10 + (*p - '0');
        p++;
      }
      if (width == 0) width = -1;
      switch (*p) {
        case 'h':
          p++;
          size = SIZE_SHORT;
          if (*p == 'h') {
            p++;
            size = SIZE_CHAR;
          }
          break;
        case 'l':
          p++;
          size = SIZE_LONG;
          if (*p == 'l') {
            p++;
            size = SIZE_LONGLONG;
            long_double = 1;
          }
          break;
        case 'L':
        case 'q':
          p++;
          size = SIZE_LONGLONG;
          long_double = 1;
          break;
        case 'j':
        case 'z':
        case 't':
          p++;
          size = SIZE_LONG;
          break;
      }
      fc = *p;
      if (fc) p++;

      if (skip_space || (fc != '[' && fc != 'c' && fc != 'n')) {
        // The end of the input is not an error yet: the conversion decides.
        do c = in.get();
        while (is_space(c));
        in.unget(c);
        skip_space = 0;
      }

      switch (fc) {
        case '%':
          c = in.get();
          if (c < 0) goto input_error;
          if (c != fc) {
            in.unget(c);
            goto out;
          }
          break;

        case 'n':
          if (!suppress) store_int(ap, size, in.read_in);
          break;

        case 'c': {
          if (width == -1) width = 1;
          c = in.get();
          if (c < 0) goto input_error;
          char *s = suppress ? nullptr : va_arg(ap, char *);
          do {
            if (s) *s++ = static_cast<char>(c);
          } while (--width > 0 && (c = in.get()) >= 0);
          if (!suppress) done++;
          break;
        }

        case 's': {
          c = in.get();
          if (c < 0) goto input_error;
          char *s = suppress ? nullptr : va_arg(ap, char *);
          do {
            if (is_space(c)) {
              in.unget(c);
              break;
            }
            if (s) *s++ = static_cast<char>(c);
          } while ((width <= 0 || --width > 0) && (c = in.get()) >= 0);
          if (s) {
            *s = 0;
            done++;
          }
          break;
        }

        case '[': {
          char *s = suppress ? nullptr : va_arg(ap, char *);
          unsigned char set[256];
          int negate;
          if (width < 0) width = INT_MAX;
          if (!parse_set(&p, set, negate)) goto out;
          c = in.get();
          if (c < 0) goto input_error;
          int matched = 0;
          do {
            if (set[c] == negate) {
              in.unget(c);
              break;
            }
            if (s) *s++ = static_cast<char>(c);
            matched++;
          } while (--width > 0 && (c = in.get()) >= 0);
          if (!matched) goto out;
          if (s) {
            *s = 0;
            done++;
          }
          break;
        }

        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
          int base = fc == 'd' || fc == 'u' ? 10 : fc == 'i' ? 0 : fc == 'o' ? 8 : 16;
          buf.clear();
          c = in.get();
          if (c < 0) goto input_error;
          if (c == '-' || c == '+') {
            buf += static_cast<char>(c);
            if (width > 0) --width;
            c = in.get();
          }
          if (width != 0 && c == '0') {
            if (width > 0) --width;
            buf += '0';
            c = in.get();
            if (width != 0 && to_lower(c) == 'x') {
              if (base == 0) base = 16;
              if (base == 16) {
                if (width > 0) --width;
                c = in.get();
              }
            } else if (base == 0) {
              base = 8;
            }
          }
          if (base == 0) base = 10;
          while (c >= 0 && width != 0) {
            if (base == 16 ? !is_xdigit(c) : (!is_digit(c) || c - '0' >= base)) break;
            buf += static_cast<char>(c);
            if (width > 0) --width;
            c = in.get();
          }
          in.unget(c);
          if (buf.empty() || (buf.size() == 1 && (buf[0] == '+' || buf[0] == '-'))) goto out;
          if (!suppress) {
            long long v = fc == 'd' || fc == 'i' ? strtoll(buf.c_str(), nullptr, base)
                                                 : static_cast<long long>(strtoull(buf.c_str(), nullptr, base));
            store_int(ap, size, v);
            done++;
          }
          break;
        }

        case 'e':
        case 'E':
        case 'f':
        case 'F':
        case 'g':
        case 'G':
        case 'a':
        case 'A': {
          buf.clear();
          int r = scan_float_text(in, width, buf);
          if (r < 0) goto input_error;
          if (r == 0) goto out;
          char *end;
          const char *start = buf.c_str();
          if (long_double) {
            long double v = strtold(start, &end);
            if (end == start) goto out;
            if (!suppress) *va_arg(ap, long double *) = v;
          } else if (size == SIZE_LONG) {
            double v = strtod(start, &end);
            if (end == start) goto out;
            if (!suppress) *va_arg(ap, double *) = v;
          } else {
            float v = strtof(start, &end);
            if (end == start) goto out;
            if (!suppress) *va_arg(ap, float *) = v;
          }
          if (!suppress) done++;
          break;
        }

        default:
          goto out;
      }
    }
  }

  // White space at the end of the format takes the input's white space too.
  if (skip_space) {
    do c = in.get();
    while (is_space(c));
    in.unget(c);
  }
  goto out;

input_error:
  if (done == 0) done = -1;
out:
  va_end(ap);
  return done;
}

int data_scanf(DataFile *f, const char *format, ...) {
  va_list ap;
  va_start(ap, format);
  int r = data_vscanf(f, format, ap);
  va_end(ap);
  return r;
}

int data_read_int(DataFile *f) {
  int v;
  return data_scanf(f, "%d", &v) == 1 ? v : INT_MIN;
}

void data_skip_comments(DataFile *f) {
  // "#" and the rest of its line, as often as comments follow; an empty
  // comment line ("#" alone) must not end the skipping.
  for (;;) {
    int n = -1;
    data_scanf(f, " #%n", &n);
    if (n < 0) return;
    data_scanf(f, "%*[^\n]");
  }
}
