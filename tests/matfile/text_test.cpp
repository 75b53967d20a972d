// Reading text matrix files: declarations, values with comments, text rows
// with escapes, the end of the file, and hostile dimensions.
#include "tests/matfile/support.h"

namespace {

using namespace amattest;

class Text : public MatfileTest {
protected:
  // Opens text as a file without class check and reads its first matrix.
  // The file read before is closed; its record starts afresh.
  int32_t readFirst(const std::string &text, Matrix &m) {
    Reader previous;
    std::swap(reader_.f, previous.f);
    file_ = path("t");
    writeBytes(file_, text);
    if (amatGetOpen(file_.c_str(), "NoClass", nullptr, reader_.get()) != 0) return -1;
    return amatGetMatrixDefault(reader_.get(), m.get());
  }
  std::string file_;
  Reader reader_;
};

TEST_F(Text, NumericMatricesReadTheSameWhateverTheirLayout) {
  const char *layouts[] = {
      "#1\ndouble A(2,3)\n1 2 3\n4 5 6\n",
      "#1\ndouble A(2,3)\n1 2\n3 4 5 6\n",
      "#1\ndouble A(2,3)\n1 2 3\n# first row\n4 5 6",
      "#1 # text matrices\r\ndouble A(2, 3)\r\n  1 2 3 4 5 6\r\n",
      "#1#text matrices\n\n# comment\ndouble A(2,3) anything\n1 2 3 4 5 6\n",
      "\xEF\xBB\xBF#1\ndouble A(2,3)\n1e0 2.0 3 4 5 6\n",
  };
  for (const char *text : layouts) {
    SCOPED_TRACE(text);
    Matrix m;
    ASSERT_EQ(readFirst(text, m), 0) << message();
    EXPECT_STREQ(m->name, "A");
    EXPECT_EQ(m->type, doubleMatrix);
    ASSERT_EQ(m->nrow, 2);
    ASSERT_EQ(m->ncol, 3);
    EXPECT_EQ(m.at(0, 1), 2.0);
    EXPECT_EQ(m.at(1, 0), 4.0);
    EXPECT_EQ(m.at(1, 2), 6.0);
  }
}

TEST_F(Text, TypeWordsAndIntegerTruncation) {
  struct Case {
    const char *text;
    int type;
    double value;
  } cases[] = {
      {"#1\nint n(1,1)\n2.9\n", integerMatrix, 2},
      {"#1\nint n(1,1)\n-2.9\n", integerMatrix, -2},
      {"#1\nfloat n(1,1)\n0.1\n", realMatrix, 0.1F},
      {"#1\ndouble n(1,1)\n0.1\n", doubleMatrix, 0.1},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Matrix m;
    ASSERT_EQ(readFirst(c.text, m), 0) << message();
    EXPECT_EQ(m->type, c.type);
    EXPECT_EQ(m.at(0, 0), c.value);
  }
}

TEST_F(Text, MalformedDeclarationsAndValues) {
  const std::string longName(101, 'n');
  struct Case {
    std::string text;
    int32_t result;
    std::string line; // the declaration line quoted, empty: a value failure
  } cases[] = {
      {"#1\ndouble A (2,3)\n1 2 3 4 5 6\n", 4, "double A (2,3)\n"},
      {"#1\ninteger A(1,1)\n1\n", 4, "integer A(1,1)\n"},
      {"#1\nreal A(1,1)\n1\n", 4, "real A(1,1)\n"},
      {"#1\ndouble " + longName + "(1,1)\n1\n", 4, "double " + longName + "(1,1)\n"},
      {"#1 text matrices\ndouble A(1,1)\n1\n", 4, "text matrices\n"},
      {"#1\ndouble A(1,2)\n1,5\n", 4, ""},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Matrix m;
    EXPECT_EQ(readFirst(c.text, m), c.result);
    if (!c.line.empty()) {
      EXPECT_EQ(message(), "Error scanning the following declaration on file \"" + file_ + "\":\n" +
                               c.line +
                               "Expected is: <type> <name> (<row_dimension>, "
                               "<column_dimension>)\nwhere <type> is \"integer\", \"real\", "
                               "\"double\" or \"char\" and\n<name> is the name of the matrix.\n");
    } else {
      EXPECT_EQ(message(), "Error when reading numeric data of matrix \"A(1,2)\" from file\n\"" +
                               file_ + "\"\n");
    }
    EXPECT_EQ(m->data, nullptr);
  }
}

TEST_F(Text, AWrongRequiredNameQuotesTheDeclaration) {
  file_ = path("t");
  writeBytes(file_, "#1\nint B(1,1)\n1\n");
  ASSERT_EQ(amatGetOpen(file_.c_str(), "NoClass", nullptr, reader_.get()), 0);
  AmatMatrix m{};
  m.name = const_cast<char *>("A");
  EXPECT_EQ(amatGetMatrixDefault(reader_.get(), &m), 2);
  EXPECT_EQ(message(), "Error scanning the following declaration on file \"" + file_ +
                           "\":\nint B(1,1)\nName of matrix is wrong, should be \"A\".\n");
}

TEST_F(Text, EndOfFileBeforeAndInsideTheValues) {
  Matrix m;
  ASSERT_EQ(readFirst("#1\ndouble A(1,1)\n7", m), 0);
  Matrix next;
  EXPECT_EQ(amatGetMatrixDefault(reader_.get(), next.get()), 3);
  EXPECT_EQ(message(),
            "Error reading matrix header from file \"" + file_ + "\":\nEnd-of-File reached\n");

  Matrix shortOne;
  EXPECT_EQ(readFirst("#1\ndouble A(1,3)\n1 2", shortOne), 4);
  EXPECT_EQ(message(),
            "Error reading matrix header from file \"" + file_ + "\":\nEnd-of-File reached\n");
  Matrix cut;
  EXPECT_EQ(readFirst("#1\ndouble A(1,2)\n1 -", cut), 3);
  EXPECT_EQ(message(),
            "Error when reading numeric data of matrix \"A(1,2)\" from file\n\"" + file_ + "\"\n");
}

TEST_F(Text, LongDeclarationLineIsSplitAndItsRestReadAsValues) {
  // 199 characters with the blanks after ")": the 7 is on the rest.
  std::string line = "double A(1,1)";
  line += std::string(199 - line.size(), ' ');
  Matrix m;
  ASSERT_EQ(readFirst("#1\n" + line + "7 \n", m), 0) << message();
  EXPECT_EQ(m.at(0, 0), 7.0);
}

TEST_F(Text, TextRowsWithEscapesAndLineEnds) {
  Matrix m;
  ASSERT_EQ(readFirst("#1\nchar s(4,3)\na\\nb\nxyz\r\na\\\\b\n\n", m), 0) << message();
  ASSERT_EQ(m->nrow, 4);
  EXPECT_EQ(m.row(0), "a\nb");
  EXPECT_EQ(m.row(1), "xyz");
  EXPECT_EQ(m.row(2), "a\\b");
  EXPECT_NE(static_cast<char **>(m->data)[3], nullptr) << "an empty line is an empty row";
  EXPECT_EQ(m.row(3), "");
  EXPECT_EQ(m->ncol, 3);
}

TEST_F(Text, TextRowLongerThanDeclaredIsCutAndItsRestDiscarded) {
  Matrix m;
  // ncol 1: a line is read as at most 3 characters (2 escaped ones and the
  // line feed); the rest of a longer line is dropped.
  ASSERT_EQ(readFirst("#1\nchar s(2,1)\nabcdef\\n\ngh\n", m), 0) << message();
  EXPECT_EQ(m.row(0), "abc");
  EXPECT_EQ(m.row(1), "gh");
  EXPECT_EQ(m->ncol, 3);
}

TEST_F(Text, HostileDimensionsAreRefusedBeforeAllocating) {
  struct Case {
    std::string text;
    int32_t result;
    std::string message;
  } cases[] = {
      {"#1\ndouble A(2000000000,2000000000)\n1 2\n", 4, "End-of-File reached"},
      {"#1\nchar s(2000000000,1)\nab\n", 4, "text"},
      {"#1\ndouble A(-1,2)\n", 4, "Wrong row dimension (= -1)"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.text);
    Matrix m;
    EXPECT_EQ(readFirst(c.text, m), c.result);
    EXPECT_NE(message().find(c.message), std::string::npos) << message();
  }
  // A huge declared row length costs no huge line buffer.
  Matrix s;
  ASSERT_EQ(readFirst("#1\nchar s(1,2000000000)\nabc\n", s), 0) << message();
  EXPECT_EQ(s.row(0), "abc");
  EXPECT_EQ(s->ncol, 3);
}

TEST_F(Text, SkipCommentsAndUnescape) {
  file_ = path("t");
  writeBytes(file_, "#1  \n  # c\n\t x");
  ASSERT_EQ(amatGetOpen(file_.c_str(), "NoClass", nullptr, reader_.get()), 0);
  EXPECT_EQ(amatSkipComments(reader_.get()), 0);
  EXPECT_EQ(std::fgetc(reader_->fp), 'x');
  EXPECT_EQ(amatSkipComments(reader_.get()), 3);
  EXPECT_EQ(amatSkipComments(nullptr), 4);

  struct Case {
    const char *in, *out;
  } cases[] = {{"a\\nb", "a\nb"}, {"a\\\\nb", "a\\nb"}, {"a\\b\\", "a\\b\\"}, {"", ""}};
  for (const Case &c : cases) {
    std::string s = c.in;
    amatUnescapeText(s.data());
    EXPECT_STREQ(s.c_str(), c.out) << c.in;
  }
}

} // namespace
