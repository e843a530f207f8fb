#include "numerics/Matrix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "numerics/VectorQo.h"

namespace {

// A distinct, non-zero test value for element i of each element type.
template <class T>
T Value(int i) {
  return static_cast<T>(i % 7 + 1);
}
template <>
bool Value<bool>(int i) {
  return i % 3 != 0;
}
template <>
vexl_Complex Value<vexl_Complex>(int i) {
  return vexl_Complex(i + 0.5, -i - 0.25);
}

template <class T>
bool Same(const T& a, const T& b) {
  return a == b;
}
template <>
bool Same<vexl_Complex>(const vexl_Complex& a, const vexl_Complex& b) {
  return a.re == b.re && a.im == b.im;
}

template <class T>
Matrix<T> Numbered(int rows, int cols) {
  Matrix<T> m(rows, cols);
  for (int i = 0; i < rows * cols; ++i) m[i] = Value<T>(i);
  return m;
}

template <class T>
void ExpectEqualMatrices(const Matrix<T>& a, const Matrix<T>& b) {
  ASSERT_EQ(a.rows, b.rows);
  ASSERT_EQ(a.cols, b.cols);
  for (int i = 0; i < a.rows * a.cols; ++i) EXPECT_TRUE(Same(a[i], b[i])) << "element " << i;
}

std::string Record(const std::string& hex) {
  std::vector<uint8_t> bytes = HexBytes(hex);
  return std::string(bytes.begin(), bytes.end());
}

}  // namespace

template <class T>
class MatrixContainerTest : public ::testing::Test {};
using ElementTypes =
    ::testing::Types<bool, unsigned char, short, int, float, double, vexl_Complex>;
TYPED_TEST_SUITE(MatrixContainerTest, ElementTypes);

TYPED_TEST(MatrixContainerTest, FreshBlocksAreZeroAndRowTableMatchesLinearIndex) {
  Matrix<TypeParam> m(3, 4);
  ASSERT_NE(m.data, nullptr);
  for (int i = 0; i < 12; ++i) EXPECT_TRUE(Same(m[i], TypeParam()));
  m(2, 1) = Value<TypeParam>(5);
  EXPECT_TRUE(Same(m[2 * 4 + 1], Value<TypeParam>(5)));
  EXPECT_EQ(&m.rowTable[2][1], &m[9]);
}

TYPED_TEST(MatrixContainerTest, SetSizeKeepsContentsOnlyForTheSameExtents) {
  Matrix<TypeParam> m = Numbered<TypeParam>(2, 3);
  TypeParam* block = m.data;
  m.SetSize(2, 3);
  EXPECT_EQ(m.data, block);
  ExpectEqualMatrices(m, Numbered<TypeParam>(2, 3));
  m.SetSize(3, 2);  // same count, other extents: contents discarded (zero)
  ASSERT_EQ(m.rows, 3);
  for (int i = 0; i < 6; ++i) EXPECT_TRUE(Same(m[i], TypeParam()));
  m.SetSize(3, 0);
  EXPECT_EQ(m.rows, 3);
  EXPECT_EQ(m.cols, 0);
  EXPECT_EQ(m.data, nullptr);
  EXPECT_EQ(m.rowTable, nullptr);
  m.Fill(Value<TypeParam>(1));  // nothing to fill, no crash
}

TYPED_TEST(MatrixContainerTest, CopiesAreDeep) {
  Matrix<TypeParam> a = Numbered<TypeParam>(2, 3);
  Matrix<TypeParam> copy(a);
  Matrix<TypeParam> assigned(5, 5);
  assigned = a;
  EXPECT_NE(copy.data, a.data);
  EXPECT_NE(assigned.data, a.data);
  a.Fill(TypeParam());
  ExpectEqualMatrices(copy, Numbered<TypeParam>(2, 3));
  ExpectEqualMatrices(assigned, Numbered<TypeParam>(2, 3));
  assigned = static_cast<const Matrix<TypeParam>&>(assigned);  // self-assignment
  ExpectEqualMatrices(assigned, Numbered<TypeParam>(2, 3));
  Matrix<TypeParam> empty;
  assigned = empty;
  EXPECT_EQ(assigned.rows, 0);
  EXPECT_EQ(assigned.data, nullptr);
}

TYPED_TEST(MatrixContainerTest, RecordRoundTripsThroughStreamAndFile) {
  Matrix<TypeParam> m = Numbered<TypeParam>(3, 5);
  std::ostringstream out;
  m.WriteBinary(out);
  ASSERT_EQ(out.str().size(), 8 + 15 * sizeof(TypeParam));
  std::istringstream in(out.str());
  Matrix<TypeParam> back;
  ASSERT_TRUE(back.ReadBinary(in));
  ExpectEqualMatrices(back, m);

  TempFolder folder;
  std::string path = folder.file("m.mat");
  ASSERT_EQ(m.Save(path.c_str()), 0);
  const std::string bytes = out.str();
  EXPECT_EQ(ReadFileBytes(path), std::vector<uint8_t>(bytes.begin(), bytes.end()));
  Matrix<TypeParam> loaded;
  ASSERT_EQ(loaded.Load(path.c_str()), 0);
  ExpectEqualMatrices(loaded, m);
}

TEST(MatrixRecordTest, ShortMatrixWritesTheDocumentedBytesInEveryForm) {
  Matrix<short> m(2, 3);
  for (int i = 0; i < 6; ++i) m[i] = static_cast<short>(i + 1);
  const std::string expected = "02000000 03000000 0100 0200 0300 0400 0500 0600";
  std::ostringstream out;
  m.WriteBinary(out);
  EXPECT_EQ(out.str(), Record(expected));
  TempFolder folder;
  ASSERT_EQ(m.Save(folder.file("a").c_str()), 0);
  ASSERT_TRUE(m.SaveStream(folder.file("b").c_str()));
  EXPECT_EQ(ReadFileBytes(folder.file("a")), HexBytes(expected));
  EXPECT_EQ(ReadFileBytes(folder.file("b")), HexBytes(expected));
}

TEST(MatrixRecordTest, LongMatrixHasFourByteElements) {
  // The program's long is int32_t, which shares Matrix<int>.
  Matrix<int32_t> m(1, 2);
  m[0] = -2;
  m[1] = 0x01020304;
  std::ostringstream out;
  m.WriteBinary(out);
  EXPECT_EQ(out.str(), Record("01000000 02000000 feffffff 04030201"));
}

TEST(MatrixRecordTest, RecordWithoutElementsReadsAsEmpty) {
  // counts 0 and 7, followed by bytes that belong to the next record
  std::istringstream in(Record("00000000 07000000 abcd"));
  Matrix<double> m(2, 2);
  ASSERT_TRUE(m.ReadBinary(in));
  EXPECT_EQ(m.rows, 0);
  EXPECT_EQ(m.cols, 0);
  EXPECT_EQ(m.data, nullptr);
  EXPECT_EQ(in.tellg(), 8);

  TempFolder folder;
  WriteFileBytes(folder.file("e"), HexBytes("00000000 07000000"));
  ASSERT_EQ(m.Load(folder.file("e").c_str()), 0);
  EXPECT_EQ(m.rows, 0);
  EXPECT_EQ(m.cols, 7);
  EXPECT_EQ(m.data, nullptr);
}

TEST(MatrixRecordTest, RejectsShortAndForeignRecords) {
  struct Case {
    const char* name;
    const char* hex;
  };
  const Case cases[] = {
      {"no counts", "0200"},
      {"elements missing", "02000000 02000000 01000000 02000000 03000000"},
      {"count beyond the bytes", "ffffff7f ffffff7f 00000000"},
      {"count beyond int range", "00000100 00000100"},
  };
  TempFolder folder;
  for (const Case& c : cases) {
    std::istringstream in(Record(c.hex));
    Matrix<int> m(3, 3);
    EXPECT_FALSE(m.ReadBinary(in)) << c.name;
    EXPECT_EQ(m.rows, 0) << c.name;
    EXPECT_EQ(m.data, nullptr) << c.name;

    std::string path = folder.file("bad");
    WriteFileBytes(path, HexBytes(c.hex));
    Matrix<int> loaded(3, 3);
    testing::internal::CaptureStderr();
    EXPECT_EQ(loaded.Load(path.c_str()), -1) << c.name;
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Matrix file " + path + " is truncated or not a matrix record\n")
        << c.name;
    EXPECT_EQ(loaded.rows, 0) << c.name;
    EXPECT_EQ(loaded.data, nullptr) << c.name;
  }
}

TEST(MatrixRecordTest, LoadRejectsNegativeCountsAndBoolBytesOtherThanZeroOrOne) {
  TempFolder folder;
  std::string path = folder.file("neg");
  WriteFileBytes(path, HexBytes("feffffff 05000000"));
  Matrix<int> m;
  testing::internal::CaptureStderr();
  EXPECT_EQ(m.Load(path.c_str()), -1);
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(m.rows, 0);
  EXPECT_EQ(m.cols, 0);

  std::istringstream in(Record("01000000 03000000 00 01 02"));
  Matrix<bool> b;
  EXPECT_FALSE(b.ReadBinary(in));
  EXPECT_EQ(b.data, nullptr);
}

TEST(MatrixRecordTest, FilesThatDoNotOpenAreReported) {
  TempFolder folder;
  std::string missing = folder.file("missing.mat");
  std::string unwritable = folder.file("no/such/folder/m.mat");
  Matrix<float> m(1, 1);
  testing::internal::CaptureStderr();
  EXPECT_EQ(m.Load(missing.c_str()), -1);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Unable to open matrix file " + missing + "\n");
  EXPECT_EQ(m.data, nullptr);
  testing::internal::CaptureStderr();
  EXPECT_EQ(m.Save(unwritable.c_str()), -1);
  EXPECT_FALSE(m.SaveStream(unwritable.c_str()));
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unable to open matrix file " + unwritable + " for writing\n" +
                "Unable to open matrix file " + unwritable + " for writing\n");
}

TEST(MatrixSizingTest, ConstructionWithAnExtentBelowOneIsEmpty) {
  for (int rows : {0, -1}) {
    Matrix<double> m(rows, 5);
    EXPECT_EQ(m.rows, 0);
    EXPECT_EQ(m.cols, 0);
    EXPECT_EQ(m.data, nullptr);
  }
  Matrix<int> m;
  EXPECT_EQ(m.Allocate(-1, 3), -1);
  EXPECT_EQ(m.Allocate(65536, 65536), -1);  // more elements than an int index reaches
}

TEST(MatrixSizingTest, IndexToRowCol) {
  Matrix<int> m(3, 3);
  int row = -1;
  int col = -1;
  m.IndexToRowCol(7, &row, &col);
  EXPECT_EQ(row, 2);
  EXPECT_EQ(col, 1);
}

TEST(ConvertMatrixTest, RoundsToNearestFloatAndWidensExactly) {
  Matrix<double> d(1, 3);
  d[0] = 0.1;
  d[1] = 1.0 + 1e-9;
  d[2] = -3.5;
  Matrix<float> f;
  ConvertMatrix(f, d);
  ASSERT_EQ(f.cols, 3);
  EXPECT_EQ(f[0], 0.1f);
  EXPECT_EQ(f[1], 1.0f);
  EXPECT_EQ(f[2], -3.5f);
  Matrix<double> back;
  ConvertMatrix(back, f);
  EXPECT_EQ(back[0], static_cast<double>(0.1f));
}

TEST(MatrixAllocationTest, FailureEndsTheProcessWithItsMessageAndStatus) {
  std::vector<std::string> modes = {"construct", "setsize"};
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
  // These cap the address space, which the sanitizers' own mappings forbid.
  modes.push_back("copy");
  modes.push_back("assign");
#endif
  for (const std::string& mode : modes) {
    ProcessResult r = RunProcess({MATRIX_ALLOC_HELPER, mode});
    EXPECT_EQ(r.status, 1) << mode;
    EXPECT_EQ(r.err, "Memory allocation Error !\n") << mode;
    EXPECT_EQ(r.out, "") << mode;
  }
}
