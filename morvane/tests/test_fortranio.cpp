// List-directed reading and fixed-width output; gfortran, when installed, is the oracle of the output.

#include "MorvaneFixture.h"

#include "morvane/core/FortranIO.h"
#include "morvane/core/ResultFiles.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>

using namespace morvane;
using namespace morvane::test;

namespace {

TEST(ListDirected, ParsesFortranNumbers) {
  long i = 0;
  double x = 0;
  EXPECT_TRUE(ParseFortranInt("-42", i));
  EXPECT_EQ(i, -42);
  EXPECT_TRUE(ParseFortranInt("+7", i));
  EXPECT_EQ(i, 7);
  EXPECT_FALSE(ParseFortranInt("1.0", i));
  EXPECT_FALSE(ParseFortranInt("12a", i));
  for (const char *twoSigns : {"--5", "+-5", "-+5", "++5"})
    EXPECT_FALSE(ParseFortranInt(twoSigns, i)) << twoSigns;
  EXPECT_TRUE(ParseFortranReal("1.5D+03", x));
  EXPECT_DOUBLE_EQ(x, 1500);
  EXPECT_TRUE(ParseFortranReal(".25", x));
  EXPECT_DOUBLE_EQ(x, 0.25);
  EXPECT_TRUE(ParseFortranReal("2.", x));
  EXPECT_DOUBLE_EQ(x, 2);
  EXPECT_TRUE(ParseFortranReal("0.100000+101", x)); // exponent without its letter, as E14.6 writes it
  EXPECT_DOUBLE_EQ(x, 1e100);
  EXPECT_TRUE(ParseFortranReal("-0.123457E-01", x));
  EXPECT_DOUBLE_EQ(x, -0.0123457);
  for (const char *bad : {"nan", "inf", "Infinity", "1,5", "", ".", "e5", "1e", "1.2.3", "--1"})
    EXPECT_FALSE(ParseFortranReal(bad, x)) << bad;
}

TEST(ListDirected, SplitsOnBlanksAndCommasWithNullsRepeatsAndSlash) {
  ListRecord r;
  SplitListRecord(" 1, 2 ,3\t4 ", r);
  EXPECT_EQ(r.items, (std::vector<std::string_view>{"1", "2", "3", "4"}));
  SplitListRecord("1,,2", r);
  ASSERT_EQ(r.items.size(), 3u);
  EXPECT_TRUE(r.nulls[1]);
  SplitListRecord(",5", r);
  ASSERT_EQ(r.items.size(), 2u);
  EXPECT_TRUE(r.nulls[0]);
  SplitListRecord("3*7 2*", r);
  EXPECT_EQ(r.items.size(), 5u);
  EXPECT_EQ(r.items[2], "7");
  EXPECT_TRUE(r.nulls[4]);
  SplitListRecord("1 2 / 3", r);
  EXPECT_EQ(r.items.size(), 2u);
  EXPECT_TRUE(r.slash);
}

TEST(ListDirected, EachReadStartsOnANewLineAndMayContinue) {
  std::istringstream in("1 2 3 ignored\r\n4\n5,\n6\n  a file name  \r\n\n1 x\n");
  ListReader r(in);
  long a[2], b[3];
  ASSERT_EQ(r.ReadInts(a, 2), ReadStatus::Ok);
  EXPECT_EQ(a[1], 2);
  ASSERT_EQ(r.ReadInts(b, 3), ReadStatus::Ok); // 4, then 5 and 6 from the next lines
  EXPECT_EQ(b[0], 4);
  EXPECT_EQ(b[2], 6);
  std::string text;
  ASSERT_EQ(r.ReadText(text), ReadStatus::Ok);
  EXPECT_EQ(text, "a file name");
  long c[2];
  EXPECT_EQ(r.ReadInts(c, 2), ReadStatus::Error); // the blank line is skipped, "x" is no integer
  EXPECT_EQ(r.ReadText(text), ReadStatus::End);
}

TEST(FixedWidth, KnownFieldsAndOverflow) {
  std::string s;
  AppendE(s, 1e-5, 14, 6);
  EXPECT_EQ(s, "  0.100000E-04");
  s.clear();
  AppendE(s, 0, 14, 6);
  EXPECT_EQ(s, "  0.000000E+00");
  s.clear();
  AppendE(s, -1e-100, 14, 6);
  EXPECT_EQ(s, " -0.100000E-99");
  s.clear();
  AppendF(s, -0.5, 5, 3);
  EXPECT_EQ(s, "-.500");
  s.clear();
  AppendF(s, 123456789.0, 11, 5);
  EXPECT_EQ(s, "***********");
  s.clear();
  AppendI(s, 100, 2);
  EXPECT_EQ(s, "**");
  EXPECT_EQ(ListDirectedInt(42), "          42");
  EXPECT_EQ(ListDirectedLogical(true), " T");
}

TEST(FixedWidth, OutputDoesNotFollowTheLocale) {
  const char *old = std::setlocale(LC_ALL, nullptr);
  const std::string saved = old ? old : "C";
  ASSERT_TRUE(std::setlocale(LC_ALL, "fr_FR.UTF-8") || std::setlocale(LC_ALL, "de_DE.UTF-8"))
      << "no locale with a decimal comma is installed (tools/setup.sh makes fr_FR.UTF-8)";
  const char point = *std::localeconv()->decimal_point;
  std::string s;
  AppendF(s, 1.5, 6, 3);
  AppendE(s, 0.25, 14, 6);
  double x = 0;
  const bool parsed = ParseFortranReal("2.5", x);
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_EQ(point, ',') << "the locale does not use a decimal comma";
  EXPECT_EQ(s, " 1.500  0.250000E+00");
  EXPECT_TRUE(parsed);
  EXPECT_DOUBLE_EQ(x, 2.5);
}

// The E14.6 field of v as the C library's exactly rounded "%.5e" gives it.
std::string ExpectedE(double v) {
  char ref[64];
  std::snprintf(ref, sizeof ref, "%.5e", std::fabs(v));
  // "d.ddddde+XX" -> "0.dddddd", exponent + 1
  const std::string r = ref;
  const int exp10 = std::atoi(r.c_str() + r.find('e') + 1) + 1;
  char expected[32];
  if (std::abs(exp10) <= 99)
    std::snprintf(expected, sizeof expected, "%s0.%c%sE%c%02d", std::signbit(v) ? "-" : "", r[0], r.substr(2, 5).c_str(),
                  exp10 < 0 ? '-' : '+', std::abs(exp10));
  else
    std::snprintf(expected, sizeof expected, "%s0.%c%s%c%03d", std::signbit(v) ? "-" : "", r[0], r.substr(2, 5).c_str(),
                  exp10 < 0 ? '-' : '+', std::abs(exp10));
  return std::string(14 - std::strlen(expected), ' ') + expected;
}

uint64_t XorShift(uint64_t &state) {
  state ^= state << 13;
  state ^= state >> 7;
  state ^= state << 17;
  return state;
}

// The E field against the C library's exactly rounded "%.5e" over many magnitudes, halfway cases included.
TEST(FixedWidth, ExponentFieldMatchesExactRounding) {
  uint64_t state = 88172645463325252ull;
  std::vector<double> values;
  for (int i = 0; i < 200000; ++i) {
    double v;
    do {
      const uint64_t bits = XorShift(state);
      std::memcpy(&v, &bits, sizeof v);
    } while (!std::isfinite(v) || std::fabs(v) < 1e-300 || std::fabs(v) > 1e300);
    values.push_back(v);
  }
  // Seven-digit decimals ending in 5 sit on (or next to) a rounding boundary.
  for (long m = 1000005; m < 9999999; m += 99990)
    for (int e = -12; e <= 12; e += 3)
      values.push_back(static_cast<double>(m) * std::pow(10.0, e - 6));
  for (double v : {0.1234565, 1.2345675, 9.9999995, 0.5, 0.125, 999999.5, 1e-5, 2.5e-7, 0.0000015})
    values.push_back(v);
  for (double v : values) {
    std::string got;
    AppendE(got, v, 14, 6);
    ASSERT_EQ(got, ExpectedE(v)) << v;
  }
}

// The magnitudes result files hold, densely, with values on and one step either side of every kind of
// rounding boundary: the E and F fields equal the C library's exact conversions, and the texts read back
// give strtod's values.
TEST(FixedWidth, UsualMagnitudesMatchTheCLibrary) {
  uint64_t state = 2463534242ull;
  auto uniform = [&] { return static_cast<double>(XorShift(state) >> 11) / 9007199254740992.0; };
  std::vector<double> values;
  for (int i = 0; i < 100000; ++i)
    values.push_back((i % 2 ? -1 : 1) * std::exp(uniform() * 100 - 40));
  for (int i = 0; i < 40000; ++i) {
    // d.ddddd5 x 10^e and 0.5 steps of 1e-2 .. 1e-5 (fixed fields), with their neighbours.
    const double tie = (std::floor(uniform() * 9e6) + 1e6 + 0.5) * std::pow(10.0, static_cast<int>(uniform() * 30) - 20);
    const double half = (std::floor(uniform() * 1e8) + 0.5) * std::pow(10.0, -2 - static_cast<int>(uniform() * 4));
    for (double v : {tie, half})
      for (double w : {v, std::nextafter(v, 0.0), std::nextafter(v, 1e300)})
        values.push_back(w);
  }
  for (double v : {9.9999995, 99999.95, 0.0, -0.0, -0.0004, 0.0005, 1e-16, 1e26, 4.5e15})
    values.push_back(v);
  char ref[400];
  for (double v : values) {
    std::string got;
    AppendE(got, v, 14, 6);
    ASSERT_EQ(got, v == 0 ? "  0.000000E+00" : ExpectedE(v)) << v; // no sign on a zero
    for (int d : {2, 3, 5}) {
      got.clear();
      AppendF(got, v, 40, d);
      std::snprintf(ref, sizeof ref, "%40.*f", d, v);
      ASSERT_EQ(got, std::string(ref).size() > 40 ? std::string(40, '*') : std::string(ref)) << v << " F" << d;
    }
    for (const char *format : {"%.6E", "%.5f", "%.17g", "%.0f"}) {
      std::snprintf(ref, sizeof ref, format, v);
      if (std::strlen(ref) > 100)
        continue;
      double parsed = 0;
      ASSERT_TRUE(ParseFortranReal(ref, parsed)) << ref;
      const double expected = std::strtod(ref, nullptr);
      ASSERT_EQ(std::memcmp(&parsed, &expected, sizeof parsed), 0) << ref;
    }
  }
}

// A double-precision Fortran literal of exactly this value.
std::string Literal(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17e", v);
  std::string s = buf;
  s[s.find('e')] = 'd';
  return s;
}

// Rows written by gfortran with the same formats must equal ours byte for byte.
TEST(FixedWidth, RowsMatchGfortranByteForByte) {
  ASSERT_EQ(std::system("command -v gfortran > /dev/null 2>&1"), 0)
      << "gfortran is not installed (tools/setup.sh installs it)";
  TempDir dir;
  const std::vector<double> values = {0.0,       1e-5,        -0.0123456789, 123456.7,   9.9999995, 1e100,
                                      -1e-100,   0.5,         0.1234565,     1.2345675,  -7.25e-3,  3.0e-300,
                                      2.5e+38,   -0.99999999, 0.03125,       1e-99,      9.99999e99};
  struct Lead {
    long y, mo, d, h, mi;
    double sec, n, mass, temp;
    long cloud;
  };
  const std::vector<Lead> leads = {{2024, 1, 2, 3, 4, 5.5, -0.00001, 123456789.0, -0.004, 1},
                                   {1999, 12, 31, 23, 59, 59.9996, 7471.416666666, 1.00014, 25.125, 0},
                                   {2000, 1, 1, 0, 0, 0.0005, 0.0, 38.1, -999.995, 10}};
  std::string program = "program rows\n  real(8) :: v(" + std::to_string(values.size()) + ")\n";
  char buf[128];
  for (size_t i = 0; i < values.size(); ++i)
    program += "  v(" + std::to_string(i + 1) + ") = " + Literal(values[i]) + "\n";
  std::string expected;
  for (size_t k = 0; k < leads.size(); ++k) {
    const Lead &l = leads[k];
    for (int screened = 0; screened < 2; ++screened) {
      std::snprintf(buf, sizeof buf, "  write(*,'(%sI5,4(1X,I3),1X,F6.3,1X,F12.5,1X,F11.5,1X,F7.2,1X,I2,120(1X,E14.6))') &\n",
                    screened ? "1X," : "");
      program += buf;
      program += "    " + std::to_string(l.y) + ", " + std::to_string(l.mo) + ", " + std::to_string(l.d) + ", " +
                 std::to_string(l.h) + ", " + std::to_string(l.mi) + ", " + Literal(l.sec) + ", " + Literal(l.n) +
                 ", " + Literal(l.mass) + ", " + Literal(l.temp) + ", " + std::to_string(l.cloud) + ", v\n";
      ResultRow r{l.y, l.mo, l.d, l.h, l.mi, l.sec, l.n, l.mass, l.temp, l.cloud};
      AppendResultRow(expected, r, values.data(), static_cast<int>(values.size()), screened != 0);
      expected += '\n';
    }
  }
  program += "  write(*,*) 26\n  write(*,*) -7\n  write(*,*) .true.\n  write(*,*) .false.\nend program\n";
  expected += ListDirectedInt(26) + "\n" + ListDirectedInt(-7) + "\n" + ListDirectedLogical(true) + "\n" +
              ListDirectedLogical(false) + "\n";
  WriteFile(dir.file("rows.f90"), program);
  const std::string cmd = "cd " + dir.path() + " && gfortran -ffree-line-length-none rows.f90 -o rows 2> err.txt && ./rows > out.txt";
  ASSERT_EQ(std::system(cmd.c_str()), 0) << ReadFile(dir.file("err.txt")) << program;
  EXPECT_EQ(ReadFile(dir.file("out.txt")), expected) << program;
}

} // namespace
