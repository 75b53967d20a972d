// Opening matrix files and reading binary matrices: encoding detection, the
// class matrix, requirements, type resolution, the element readers, hostile
// headers, the incremental refresh and the stop hook.
#include "tests/matfile/support.h"

#include <sys/stat.h>

#include <cmath>
#include <functional>

namespace {

using namespace amattest;

class Read : public MatfileTest {};

// ---- opening ------------------------------------------------------------------------

TEST_F(Read, OpenFailuresCloseTheFileAndSayWhy) {
  const std::string empty = path("empty"), two = path("two"), hash = path("hash");
  writeBytes(empty, "");
  writeBytes(two, "#2\n");
  writeBytes(hash, "#");
  const std::string dir = path("dir");
  ASSERT_EQ(::mkdir(dir.c_str(), 0700), 0);
  struct Case {
    std::string file;
    int32_t result;
    std::string text;
  } cases[] = {
      {empty, 5,
       "Error reading first character from file \"" + empty + "\":\nEnd-Of-File reached.\n"},
      {two, 5,
       "Error reading format and version information in first line of \nfile \"" + two +
           "\": \"#1\" expected, but \"#2\" found.\n"},
      {hash, 4, "Error reading matrix header from file \"" + hash + "\":\nEnd-Of-File reached.\n"},
      {dir, 5, "Error reading first character from file \"" + dir + "\":\nIs a directory\n"},
      {path("missing"), 5,
       "Not possible to open file \"" + path("missing") + "\": No such file or directory\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file);
    AmatGetFile f{};
    EXPECT_EQ(amatGetOpen(c.file.c_str(), "NoClass", nullptr, &f), c.result);
    EXPECT_EQ(message(), c.text);
    EXPECT_EQ(f.fp, nullptr);
    EXPECT_EQ(f.fileName, nullptr);
  }
  ::rmdir(dir.c_str());
  AmatGetFile f{};
  EXPECT_EQ(amatGetOpen(nullptr, "NoClass", nullptr, &f), 4);
  EXPECT_EQ(message(), "Unexpected null-pointer");
  EXPECT_EQ(amatGetOpen(empty.c_str(), "NoClass", nullptr, nullptr), 4);
}

TEST_F(Read, ByteOrderMarkStartsATextFileAndALoneEFIsBinary) {
  const std::string text = path("bom"), binary = path("ef");
  writeBytes(text, "\xEF\xBB\xBF#1\ndouble A(1,1)\n5\n");
  // 0xEF as the low byte of the type code: code 239 has M 0 but the type
  // flag 9, so the binary reader (not the text reader) refuses it.
  writeBytes(binary, header(239, 1, 1, "A") + raw(std::vector<double>{1.0}));
  {
    Reader r;
    ASSERT_EQ(amatGetOpen(text.c_str(), "NoClass", nullptr, r.get()), 0);
    EXPECT_EQ(r->format, 0);
    Matrix a;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), a.get()), 0) << message();
    EXPECT_EQ(a.at(0, 0), 5.0);
  }
  Reader r;
  ASSERT_EQ(amatGetOpen(binary.c_str(), "NoClass", nullptr, r.get()), 0);
  EXPECT_EQ(r->format, 1);
  Matrix a;
  EXPECT_EQ(amatGetMatrixDefault(r.get(), a.get()), 4);
  EXPECT_EQ(message(), "Wrong type flag (= 9) of matrix \"A\" on file \"" + binary +
                           "\".\nThe type flag must be 0 (= numeric matrix) or 1 (= character "
                           "matrix).\n");
}

// A class matrix "Aclass" with the given rows, binNormal, one byte a character.
std::string classBytes(const std::vector<std::string> &rows, const std::string &name = "Aclass") {
  std::size_t length = 0;
  for (const auto &r : rows) length = std::max(length, r.size());
  std::string chars;
  for (std::size_t j = 0; j < length; ++j) {
    for (const auto &r : rows) chars += j < r.size() ? r[j] : j == r.size() ? '\0' : ' ';
  }
  return header(51, static_cast<int32_t>(rows.size()), static_cast<int32_t>(length), name) + chars;
}

TEST_F(Read, ClassMatrixDecidesClassVersionAndStorage) {
  const std::string good = path("good"), trans = path("trans"), small = path("small");
  const std::string named = path("named"), numeric = path("numeric"), other = path("other");
  writeBytes(good, classBytes({"Atrajectory", "1.1", "text", "binNormal"}));
  writeBytes(trans, classBytes({"Atrajectory", "1.1", "text", "binTrans"}));
  writeBytes(small, classBytes({"Atrajectory", "1.1"}));
  writeBytes(named, classBytes({"Atrajectory", "1.1", "text"}, "class"));
  writeBytes(numeric, header(0, 1, 1, "x") + raw(std::vector<double>{1.0}));
  writeBytes(other, classBytes({"Atrajectory", "1.1", "text"}, "notclass"));
  const std::string versionText = "Not possible to read matrices from file \"" + good +
                                  "\",\nbecause the version number  (= \"1.1\") does not "
                                  "correspond to\nthe required version number (= \"1.0\").\nNote, "
                                  "that the version number is stored in the second row\nof the "
                                  "first matrix \"Aclass\" on file.\n";
  const std::string classText = "Not possible to read matrices from file \"" + good +
                                "\",\nbecause the class name (= \"Atrajectory\") does not "
                                "correspond to\nthe required class name (= \"Other\").\nNote, "
                                "that the class name is stored in the first row\nof the first "
                                "matrix \"Aclass\" on file.\n";
  struct Case {
    std::string file;
    const char *className;
    const char *version;
    int32_t result;
    int32_t bstruct;
    std::string text; // empty: not checked
  } cases[] = {
      {good, "Atrajectory", "1.1", 0, binNormal, ""},
      {good, "Atrajectory", nullptr, 0, binNormal, ""},
      {trans, "Atrajectory", "1.1", 0, binTrans, ""},
      {named, "Atrajectory", "1.1", 0, binNormal, ""},
      {good, "Atrajectory", "1.0", 3, 0, versionText},
      {good, "Other", nullptr, 2, 0, classText},
      {good, nullptr, nullptr, 2, 0, ""},
      {other, "Atrajectory", nullptr, 2, 0,
       "Not possible to read matrices from file \"" + other +
           "\",\nbecause the first matrix on file (=\"notclass\")\nhas not the name \"class\" or "
           "\"Aclass\".\n"},
      {numeric, "Atrajectory", nullptr, 1, 0, ""},
      {small, "Atrajectory", nullptr, 5, 0,
       "Not possible to read matrices from file \"" + small +
           "\",\nbecause matrix \"Aclass\" has less than 3 rows.\n(in the first row the "
           "class-name, in the second row\nthe version-number and in the third row the "
           "description text\nmust be stored)\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.file + " " + (c.className ? c.className : "null"));
    Reader r;
    EXPECT_EQ(amatGetOpen(c.file.c_str(), c.className, c.version, r.get()), c.result);
    if (!c.text.empty()) {
      EXPECT_EQ(message(), c.text);
    }
    if (c.result == 0) {
      EXPECT_EQ(r->bstruct, c.bstruct);
      EXPECT_EQ(r->classMatrix.nrow >= 3, true);
      EXPECT_STREQ(static_cast<char **>(r->classMatrix.data)[0], "Atrajectory");
    } else {
      EXPECT_EQ(r->fp, nullptr);
    }
  }
}

TEST_F(Read, NoClassReturnsTheClassMatrixAndReadsBinTransTransposed) {
  const std::string file = path("f");
  // The class says binTrans; "x" stored as 3 x 2 is the 2 x 3 matrix [1 2 3; 4 5 6].
  writeBytes(file, classBytes({"C", "1", "d", "binTrans"}) + header(0, 3, 2, "x") +
                       raw(std::vector<double>{1, 2, 3, 4, 5, 6}));
  {
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    Matrix cls, x;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), cls.get()), 0);
    EXPECT_STREQ(cls->name, "Aclass");
    EXPECT_EQ(cls->type, charMatrix);
    EXPECT_EQ(cls->nrow, 4);
    EXPECT_EQ(cls.row(3), "binTrans");
    ASSERT_EQ(amatGetMatrixDefault(r.get(), x.get()), 0);
    EXPECT_EQ(x->nrow, 3); // read binNormal: the stored matrix
    EXPECT_EQ(x->ncol, 2);
    EXPECT_EQ(x.at(0, 1), 4.0);
    Matrix none;
    EXPECT_EQ(amatGetMatrixDefault(r.get(), none.get()), 3);
    EXPECT_EQ(message(),
              "Error reading matrix header from file \"" + file + "\":\nEnd-Of-File reached.\n");
  }
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "C", "1", r.get()), 0);
  Matrix x;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), x.get()), 0);
  ASSERT_EQ(x->nrow, 2);
  ASSERT_EQ(x->ncol, 3);
  for (int i = 0; i < 2; ++i) {
    for (int j = 0; j < 3; ++j) EXPECT_EQ(x.at(i, j), 1 + 3 * i + j);
  }
}

// ---- requirements and types ----------------------------------------------------------------

TEST_F(Read, RequirementsOnNameSizeAndType) {
  const std::string file = path("f");
  std::vector<double> values(33, 1.0);
  writeBytes(file, header(0, 3, 11, "A") + raw(values));
  auto reading = [&](const char *name, int nrow, int ncol, int type) {
    Reader r;
    EXPECT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    Matrix m;
    m->name = name != nullptr ? const_cast<char *>(name) : nullptr;
    m->nrow = nrow;
    m->ncol = ncol;
    m->type = type;
    int32_t result = amatGetMatrixDefault(r.get(), m.get());
    if (name != nullptr) m->name = nullptr; // not ours
    return result;
  };
  const std::string head = "Error when reading matrix \"A(3,11)\" from file \"" + file + "\",\n";
  struct Case {
    const char *name;
    int nrow, ncol, type;
    int32_t result;
    std::string text;
  } cases[] = {
      {nullptr, -10, -11, voidMatrix, 0, ""},
      {"A", 3, 11, doubleMatrix, 0, ""},
      {nullptr, -2, 0, voidMatrix, 2, head + "because row dimension <= 2 required.\n"},
      {nullptr, 4, 0, voidMatrix, 2, head + "because row dimension = 4 required.\n"},
      {nullptr, 0, 10, voidMatrix, 2, head + "because column dimension = 10 required.\n"},
      {nullptr, 0, -10, voidMatrix, 2, head + "because column dimension <= 10 required.\n"},
      {nullptr, 0, 0, charMatrix, 2,
       head + "because matrix should be of type \"char\" and not of type \"double\".\n"},
      {"B", 0, 0, voidMatrix, 2,
       "Error when reading matrix \"A\" from file \"" + file +
           "\",\nbecause matrix-name = \"B\" required.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::to_string(c.nrow) + "," + std::to_string(c.ncol) + " " +
                 std::to_string(c.type));
    std::strcpy(amatMessage, "No message.");
    EXPECT_EQ(reading(c.name, c.nrow, c.ncol, c.type), c.result);
    EXPECT_EQ(message(), c.result == 0 ? "No message." : c.text);
  }
}

TEST_F(Read, TextMatrixRequestedAsNumberIsRefused) {
  const std::string file = path("f");
  writeBytes(file, classBytes({"a", "b", "c"}, "s"));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  Matrix m;
  m->type = doubleMatrix;
  EXPECT_EQ(amatGetMatrixDefault(r.get(), m.get()), 2);
  EXPECT_EQ(message(), "Error when reading matrix \"s(3,1)\" from file \"" + file +
                           "\",\nbecause matrix should be of type \"integer\", \"real\" or "
                           "\"double\"\nand not of type \"char\".\n");
  EXPECT_EQ(m->name, nullptr);
  EXPECT_EQ(m->data, nullptr);
}

TEST_F(Read, TypeResolutionAndConversions) {
  const std::string file = path("f");
  // float32 2.7, -2.7 stored binNormal as a 1 x 2 matrix.
  writeBytes(file, header(10, 1, 2, "f") + raw(std::vector<float>{2.7F, -2.7F}) +
                       header(0, 1, 2, "d") + raw(std::vector<double>{0.1, -1e300}));
  struct Case {
    const char *name;
    int requested, hint, type;
    double first, second;
  } cases[] = {
      {"f", doubleMatrix, 0, realMatrix, 2.7F, -2.7F},
      {"f", voidMatrix, 3, doubleMatrix, 2.7F, -2.7F},
      {"f", voidMatrix, 0, realMatrix, 2.7F, -2.7F},
      {"f", integerMatrix, 0, integerMatrix, 2, -2},
      {"f", doubleRowMatrix, 0, realRowMatrix, 2.7F, -2.7F},
      {"d", voidMatrix, 2, realMatrix, 0.1F, -INFINITY},
      {"d", realRowMatrix, 0, realRowMatrix, 0.1F, -INFINITY},
      {"d", integerMatrix, 0, integerMatrix, 0, INT32_MIN},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.requested));
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    Matrix skipped, m;
    if (std::strcmp(c.name, "d") == 0) {
      ASSERT_EQ(amatGetMatrixDefault(r.get(), skipped.get()), 0);
    }
    m->type = c.requested;
    ASSERT_EQ(amatGetMatrix(r.get(), m.get(), c.hint, nullptr, 1), 0) << message();
    EXPECT_EQ(m->type, c.type);
    EXPECT_EQ(m.at(0, 0), c.first);
    EXPECT_EQ(m.at(0, 1), c.second);
  }
}

TEST_F(Read, MatrixWithoutElementsIsReturnedWithItsMessage) {
  const std::string file = path("f");
  writeBytes(file, header(0, 0, 5, "E"));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  Matrix m;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0);
  EXPECT_EQ(m->nrow, 0);
  EXPECT_EQ(m->ncol, 5);
  EXPECT_NE(m->data, nullptr);
  EXPECT_EQ(message(), "Error when reading matrix \"E(0,5)\" from file \"" + file +
                           "\",\nbecause number of matrix elements is zero.\n");
}

// ---- binary headers ---------------------------------------------------------------------

TEST_F(Read, BinaryHeaderVariants) {
  const std::string file = path("f");
  const std::string readFrom = "\" from file\n\"" + file + "\"\n";
  const std::string endOfFile =
      "Error reading matrix header from file \"" + file + "\":\nEnd-Of-File reached.\n";
  struct Case {
    const char *label;
    std::string bytes;
    int32_t result;
    std::string text;
  } cases[] = {
      {"machine 1", header(1000, 1, 1, "A") + raw(std::vector<double>{1}), 4,
       "Cannot read matrix from file \"" + file +
           "\".\nThe file has incorrect format (note that binary files must be saved with '-v4' "
           "in MATLAB).\n"},
      {"precision 3", header(30, 1, 1, "A") + raw(std::vector<double>{1}), 4,
       "Wrong precision flag (= 3) of numeric matrix \"A\" on file \"" + file +
           "\"\nFlag must be 0 (= 64-bit) or 1 (32-bit).\n"},
      {"type 2", header(2, 1, 1, "A") + raw(std::vector<double>{1}), 4,
       "Wrong type flag (= 2) of matrix \"A\" on file \"" + file +
           "\".\nThe type flag must be 0 (= numeric matrix) or 1 (= character matrix).\n"},
      {"text precision 2", header(21, 1, 2, "s") + "ab", 4,
       "Wrong precision flag (= 2) of character matrix \"s(1,2)\"\non file \"" + file +
           "\".\nFlag must be 0 (= 64-bit) or 5 (= 8-bit unsigned integer).\n"},
      {"half header", le32(0) + le32(1) + "\1\0", 3, endOfFile},
      {"name length negative", le32(0) + le32(1) + le32(1) + le32(0) + le32(-5), 4,
       "Error reading matrix header from file \"" + file +
           "\":\nLength of matrix name (= -5) is out of range.\n"},
      {"name beyond the file", le32(0) + le32(1) + le32(1) + le32(0) + le32(0x7fffffff) + "A", 4,
       "Error reading matrix header from file \"" + file +
           "\":\nLength of matrix name (= 2147483647) is out of range.\n"},
      {"elements beyond the file", header(0, 0x7fffffff, 0x7fffffff, "A") + "12345678", 4,
       "Error when reading numeric data of matrix \"A(2147483647,2147483647)" + readFrom},
      {"one element short", header(20, 2, 2, "A") + raw(std::vector<int32_t>{1, 2, 3}), 4,
       "Error when reading numeric data of matrix \"A(2,2)" + readFrom},
      {"negative rows", header(0, -1, 2, "A"), 4,
       "Wrong row dimension (= -1) of matrix \"A\" on file \"" + file +
           "\".\nDimension must be >= 0.\n"},
      {"text beyond the file", header(51, 3, 0x7fffffff, "s") + "abc", 4,
       "Error reading data of text matrix \"s(3,2147483647)\" from file \"" + file +
           "\":\nEnd-Of-File reached.\n"},
      {"empty text rows beyond the file", header(51, 0x7fffffff, 0, "s"), 4,
       "Error when reading text matrix \"s(2147483647,0)\" from file \"" + file +
           "\",\nsince it is not possible to allocate storage for\n2147483647 characters.\n"},
      {"complex text", le32(51) + le32(1) + le32(2) + le32(1) + le32(2) + "s" + '\0' + "abcd", 4,
       "Error when reading matrix \"s\" from file \"" + file +
           "\",\nbecause it is complex (imagf = 1) and complex matrices are not supported.\n"},
      {"imagf -1", le32(20) + le32(1) + le32(1) + le32(-1) + le32(2) + "i" + '\0' + le32(7), 4,
       "Error when reading matrix \"i\" from file \"" + file +
           "\",\nbecause it is complex (imagf = -1) and complex matrices are not supported.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.label);
    writeBytes(file, c.bytes);
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    Matrix m;
    EXPECT_EQ(amatGetMatrixDefault(r.get(), m.get()), c.result);
    EXPECT_EQ(message(), c.text);
    EXPECT_EQ(m->data, nullptr);
    EXPECT_EQ(m->name, nullptr);
  }
}

TEST_F(Read, EmptyRowMatrixWithMoreRowsThanTheFileHasBytesIsRefused) {
  const std::string file = path("f");
  writeBytes(file, header(10, 0, 0x40000000, "R"));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  r->bstruct = binTrans; // 2^30 rows of 0 columns
  Matrix m;
  m->type = realRowMatrix;
  EXPECT_EQ(amatGetMatrixDefault(r.get(), m.get()), 4);
  EXPECT_EQ(message(), "Error when reading numeric matrix \"R(1073741824,0)\" from file\n\"" +
                           file +
                           "\", since it is not possible to allocate storage for\n1073741824 "
                           "numeric elements.\n");
}

TEST_F(Read, TextMatrixWithoutRowsButLongRowsCostsNothing) {
  const std::string file = path("f");
  writeBytes(file, header(51, 0, 0x30000000, "s"));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  Matrix m;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0);
  EXPECT_EQ(m->nrow, 0);
  EXPECT_EQ(m->ncol, 0);
}

TEST_F(Read, RequiredNameComparesTheFirstHundredCharacters) {
  const std::string file = path("f");
  const std::string longName(150, 'n');
  writeBytes(file, header(0, 1, 1, longName) + raw(std::vector<double>{7}));
  for (const std::string &wanted : {std::string(100, 'n'), std::string(99, 'n')}) {
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    AmatMatrix m{};
    m.name = const_cast<char *>(wanted.c_str());
    int32_t result = amatGetMatrixDefault(r.get(), &m);
    EXPECT_EQ(result, wanted.size() == 100 ? 0 : 2);
    if (result == 0) {
      EXPECT_EQ(static_cast<double *>(m.data)[0], 7.0);
    }
    m.name = nullptr;
    amatFreeMatrix(&m);
  }
}

// ---- binary text matrices --------------------------------------------------------------------

TEST_F(Read, BinaryTextRowsAreStrippedByTheChosenRule) {
  const std::string file = path("f");
  // 'ab' and 'abcd' binNormal with a blank pad; a row of blanks; P 0 codes.
  writeBytes(file, header(51, 2, 4, "t") + std::string("aabb\0c d", 8) + header(51, 1, 3, "b") +
                       "   " + header(1, 1, 2, "p") + raw(std::vector<double>{104.9, 105}));
  for (int strip : {1, 0}) {
    SCOPED_TRACE(strip);
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    Matrix t, b, p;
    ASSERT_EQ(amatGetMatrix(r.get(), t.get(), 0, nullptr, strip), 0);
    EXPECT_EQ(t.row(0), "ab");
    EXPECT_EQ(t.row(1), "abcd");
    EXPECT_EQ(t->ncol, 4);
    ASSERT_EQ(amatGetMatrix(r.get(), b.get(), 0, nullptr, strip), 0);
    if (strip) {
      EXPECT_EQ(static_cast<char **>(b->data)[0], nullptr);
      EXPECT_EQ(b->ncol, 0);
    } else {
      EXPECT_EQ(b.row(0), "   ");
    }
    ASSERT_EQ(amatGetMatrix(r.get(), p.get(), 0, nullptr, strip), 0);
    EXPECT_EQ(p.row(0), "hi");
  }
}

// ---- caller storage --------------------------------------------------------------------------

TEST_F(Read, CallerStorageIsFilledOnlyWhenTheMatrixFits) {
  const std::string file = path("f");
  writeBytes(file, header(20, 2, 2, "A") + raw(std::vector<int32_t>{1, 2, 3, 4}));
  int32_t storage[4] = {};
  {
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    AmatMatrix m{};
    amatSetMatrix(nullptr, -2, -2, integerMatrix, storage, &m);
    ASSERT_EQ(amatGetMatrixDefault(r.get(), &m), 0);
    EXPECT_EQ(m.data, storage);
    EXPECT_EQ(storage[3], 4);
    amatRelease(m.name);
  }
  std::fpos_t pos{};
  const std::string programming =
      "Programming error when reading matrix \"A(2,2)\" from file \"" + file +
      "\".\nFunction amatGetMatrix is called with storage supplied for the\nmatrix data "
      "(matrix.data != NULL), but row dimension, column dimension\nand matrix type are not all "
      "predefined\n(matrix.nrow = 0, matrix.ncol = 2, matrix.type = integerMatrix)\n";
  struct Case {
    int nrow, ncol;
    std::fpos_t *resume;
    int32_t result;
    std::string text;
  } cases[] = {
      {0, 2, &pos, 4, programming},
      {1, 2, &pos, 2,
       "Error when reading matrix \"A(2,2)\" from file \"" + file +
           "\",\nbecause row dimension = 1 required.\n"},
      {-1, -2, nullptr, 2,
       "Error when reading matrix \"A(2,2)\" from file \"" + file +
           "\",\nbecause row dimension <= 1 required.\n"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.nrow);
    int32_t small[2] = {-1, -1};
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
    AmatMatrix m{};
    amatSetMatrix(nullptr, c.nrow, c.ncol, integerMatrix, small, &m);
    EXPECT_EQ(amatGetMatrix(r.get(), &m, 0, c.resume, 1), c.result);
    EXPECT_EQ(message(), c.text);
    EXPECT_EQ(small[0], -1);
    EXPECT_EQ(m.name, nullptr);
  }
}

// ---- incremental refresh ------------------------------------------------------------------

// Writes rows [from, to) of a matrix "R" with ncol 3 whose element (i, j) is
// 10 i + j.
void appendRows(AmatPutFile *f, int from, int to) {
  for (int i = from; i < to; ++i) {
    const float x = 10.0F * float(i);
    float row[3] = {x, x + 1, x + 2};
    ASSERT_EQ(amatPutRrow(f, row), 0) << amatMessage;
  }
}

TEST_F(Read, RefreshReadsOnlyTheRowsAppendedMeanwhile) {
  for (int format : {1, 0}) {
    SCOPED_TRACE(format);
    const std::string file = path(format ? "bin" : "txt");
    Writer w;
    ASSERT_EQ(amatPutOpen(file.c_str(), format, binTrans, "C", "1", "d", w.get()), 0);
    ASSERT_EQ(amatPutRinit(w.get(), "R", 3, realMatrix), 0);
    appendRows(w.get(), 0, 10);

    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "C", nullptr, r.get()), 0);
    std::fpos_t at{};
    ASSERT_EQ(std::fgetpos(r->fp, &at), 0);
    Matrix m;
    m->type = realRowMatrix;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0) << message();
    ASSERT_EQ(m->nrow, 10);
    EXPECT_EQ(m->rowCapacity, 10);
    EXPECT_EQ(m->firstRow, 10);
    float *firstRow = static_cast<float **>(m->data)[0];
    std::fpos_t resume{};
    ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);

    appendRows(w.get(), 10, 25);
    ASSERT_EQ(std::fsetpos(r->fp, &at), 0);
    ASSERT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), 0) << message();
    EXPECT_EQ(m->nrow, 25);
    EXPECT_EQ(m->firstRow, 25);
    EXPECT_EQ(m->rowCapacity, 25);
    EXPECT_EQ(static_cast<float **>(m->data)[0], firstRow) << "old rows are kept";
    for (int i = 0; i < 25; ++i) {
      for (int j = 0; j < 3; ++j) EXPECT_EQ(m.at(i, j), 10 * i + j) << i << "," << j;
    }
  }
}

// A reader follows a file while it is written, as a result viewer does: it
// reads the row matrix from the moment it is started, and refreshes after
// every appended row, after its end and after the file is closed.  Every
// refresh holds exactly the rows on disk.
TEST_F(Read, RefreshAfterEveryRowHoldsTheRowsOnDisk) {
  for (int format : {1, 0}) {
    SCOPED_TRACE(format);
    const std::string file = path(format ? "bin" : "txt");
    Writer w;
    ASSERT_EQ(amatPutOpen(file.c_str(), format, binTrans, "C", "1", "d", w.get()), 0);
    ASSERT_EQ(amatPutRinit(w.get(), "R", 3, realMatrix), 0);

    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "C", nullptr, r.get()), 0) << message();
    std::fpos_t at{}, resume{};
    ASSERT_EQ(std::fgetpos(r->fp, &at), 0);
    Matrix m;
    m->type = realRowMatrix;
    ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0) << message();
    ASSERT_EQ(m->nrow, 0);
    ASSERT_EQ(m->ncol, 3);
    ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
    auto refresh = [&](int rows) {
      ASSERT_EQ(std::fsetpos(r->fp, &at), 0);
      ASSERT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), 0) << message();
      ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
      ASSERT_EQ(m->nrow, rows);
      for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < 3; ++j) ASSERT_EQ(m.at(i, j), 10 * i + j) << i << "," << j;
      }
    };
    for (int rows = 1; rows <= 40; ++rows) {
      SCOPED_TRACE(rows);
      appendRows(w.get(), rows - 1, rows);
      refresh(rows);
      if (rows % 7 == 0) refresh(rows); // nothing new
    }
    ASSERT_EQ(amatPutRend(w.get()), 0);
    refresh(40);
    ASSERT_EQ(amatPutClose(w.get()), 0);
    for (int k = 0; k < 3; ++k) refresh(40);
  }
}

// The file was written anew with fewer rows than the reader holds, or cut
// before the matrix: the refresh fails and says so, in binary and text files
// alike.
TEST_F(Read, RefreshOfAFileThatNoLongerHoldsTheRowsReadFails) {
  for (int format : {1, 0}) {
    const std::string file = path(format ? "bin" : "txt");
    auto write = [&](int rows) {
      Writer w;
      ASSERT_EQ(amatPutOpen(file.c_str(), format, binTrans, "C", "1", "d", w.get()), 0);
      ASSERT_EQ(amatPutRinit(w.get(), "R", 3, realMatrix), 0);
      appendRows(w.get(), 0, rows);
      ASSERT_EQ(amatPutRend(w.get()), 0);
    };
    struct Case {
      const char *name;
      std::function<void()> shorten;
      int32_t result;
      std::string text;
    };
    const Case cases[] = {
        {"rewritten with 5 rows", [&] { write(5); }, 2,
         "Error when reading matrix \"R(5,3)\" from file \"" + file +
             "\",\nbecause the matrix on file no longer extends the matrix read before "
             "(13,3).\n"},
        {"emptied", [&] { writeBytes(file, ""); }, 4,
         "Error when reading matrix \"R\" from file \"" + file +
             "\",\nbecause the file ends before the matrix read before (13,3).\n"},
    };
    for (const Case &c : cases) {
      SCOPED_TRACE(std::to_string(format) + " " + c.name);
      write(13);
      Reader r;
      ASSERT_EQ(amatGetOpen(file.c_str(), "C", nullptr, r.get()), 0) << message();
      std::fpos_t at{}, resume{};
      ASSERT_EQ(std::fgetpos(r->fp, &at), 0);
      Matrix m;
      m->type = realRowMatrix;
      ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0) << message();
      ASSERT_EQ(m->nrow, 13);
      ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
      // A refresh that finds nothing new, as a viewer makes them.
      ASSERT_EQ(std::fsetpos(r->fp, &at), 0);
      ASSERT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), 0) << message();
      ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
      c.shorten();
      ASSERT_EQ(std::fsetpos(r->fp, &at), 0);
      EXPECT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), c.result);
      EXPECT_EQ(message(), c.text);
      EXPECT_EQ(m->nrow, 13);
    }
  }
}

TEST_F(Read, RefreshRefusesAMatrixThatNoLongerExtendsTheRowsRead) {
  const std::string file = path("f");
  writeBytes(file, classBytes({"C", "1", "d", "binTrans"}) + header(10, 4, 2, "R") +
                       raw(std::vector<float>(8, 1.0F)));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "C", nullptr, r.get()), 0);
  std::fpos_t at{}, resume{};
  ASSERT_EQ(std::fgetpos(r->fp, &at), 0);
  Matrix m;
  m->type = realRowMatrix;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0);
  ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
  m->ncol = 3; // as if the rows read had 3 values: the file's 4 do not fit them
  ASSERT_EQ(std::fsetpos(r->fp, &at), 0);
  EXPECT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), 2);
  EXPECT_EQ(message(), "Error when reading matrix \"R(2,4)\" from file \"" + file +
                           "\",\nbecause the matrix on file no longer extends the matrix read "
                           "before (2,3).\n");
  EXPECT_EQ(m->nrow, 2);
}

TEST_F(Read, RefreshOfABinNormalFileReadsTheWholeMatrix) {
  const std::string file = path("f");
  writeBytes(file, header(0, 2, 2, "R") + raw(std::vector<double>{1, 3, 2, 4}));
  Reader r;
  ASSERT_EQ(amatGetOpen(file.c_str(), "NoClass", nullptr, r.get()), 0);
  Matrix m;
  m->type = doubleRowMatrix;
  ASSERT_EQ(amatGetMatrixDefault(r.get(), m.get()), 0);
  EXPECT_EQ(m->firstRow, 0);
  std::fpos_t resume{};
  ASSERT_EQ(std::fgetpos(r->fp, &resume), 0);
  writeBytes(file, header(0, 3, 2, "R") + raw(std::vector<double>{1, 3, 5, 2, 4, 6}));
  ASSERT_EQ(std::fseek(r->fp, 0, SEEK_SET), 0);
  ASSERT_EQ(amatGetMatrix(r.get(), m.get(), 0, &resume, 1), 0) << message();
  ASSERT_EQ(m->nrow, 3);
  EXPECT_EQ(m.at(2, 0), 5.0);
  EXPECT_EQ(m.at(2, 1), 6.0);
  EXPECT_EQ(m.at(0, 1), 2.0);
}

// ---- stop hook ---------------------------------------------------------------------------------

int32_t stopAlways() { return 1; }

TEST_F(Read, StopHookStopsRowReads) {
  const std::string file = path("f");
  writeBytes(file, classBytes({"C", "1", "d", "binTrans"}) + header(10, 2, 3, "R") +
                       raw(std::vector<float>(6, 1.0F)));
  amatSetStopHook(stopAlways);
  for (int type : {realRowMatrix, realMatrix}) {
    SCOPED_TRACE(type);
    Reader r;
    ASSERT_EQ(amatGetOpen(file.c_str(), "C", nullptr, r.get()), 0);
    Matrix m;
    m->type = type;
    EXPECT_EQ(amatGetMatrixDefault(r.get(), m.get()), type == realRowMatrix ? 4 : 0);
    if (type == realRowMatrix) {
      EXPECT_EQ(message(), "Reading of file \"" + file + "\" stopped by user.\n");
      EXPECT_EQ(m->data, nullptr);
    }
  }
}

// ---- allocation failures ----------------------------------------------------------------------

TEST_F(Read, EveryAllocationFailureIsReportedAndReleasesEverything) {
  const std::string file = path("f");
  writeBytes(file, classBytes({"C", "1", "d", "binTrans"}) + header(10, 3, 4, "R") +
                       raw(std::vector<float>(12, 2.0F)) + header(51, 2, 2, "t") + "xyz ");
  for (int n = 1;; ++n) {
    SCOPED_TRACE(n);
    ASSERT_LT(n, 100);
    Reader r;
    Matrix a, b;
    a->type = realRowMatrix;
    platform::heapFailFrom(n);
    int32_t open = amatGetOpen(file.c_str(), "C", "1", r.get());
    int32_t first = open == 0 ? amatGetMatrixDefault(r.get(), a.get()) : -1;
    int32_t second = first == 0 ? amatGetMatrixDefault(r.get(), b.get()) : -1;
    platform::heapFailFrom(0);
    if (open == 0 && first == 0 && second == 0) {
      EXPECT_EQ(a.at(3, 2), 2.0);
      EXPECT_EQ(b.row(1), "z");
      break;
    }
    EXPECT_TRUE(open == 5 || first == 4 || second == 4) << open << first << second;
    EXPECT_NE(message(), "No message.");
  }
}

} // namespace
