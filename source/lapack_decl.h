#pragma once
// The LAPACK and BLAS routines of the dense linear solver, declared for the
// Fortran calling convention of the reference libraries: every argument by
// address, INTEGER is 32 bits, and each CHARACTER argument has a hidden length
// (size_t) appended after the visible arguments, in the order of the
// CHARACTER arguments.  Private to the solver (linsolve.cpp) and its tests.
//
// The unit links the static reference archives and keeps every one of these
// names private to itself (see source/CMakeLists.txt); xerbla_, LAPACK's
// documented replacement point for argument errors, is the solver's own.

#include <cstddef>
#include <cstdint>

using lapack_int = std::int32_t;
static_assert(sizeof(int) == sizeof(lapack_int), "the solver passes int arrays as INTEGER arrays");

extern "C" {

// ---- LAPACK ----------------------------------------------------------------

void dgetrf_(const lapack_int *m, const lapack_int *n, double *a, const lapack_int *lda,
             lapack_int *ipiv, lapack_int *info);
void dgetrs_(const char *trans, const lapack_int *n, const lapack_int *nrhs, const double *a,
             const lapack_int *lda, const lapack_int *ipiv, double *b, const lapack_int *ldb,
             lapack_int *info, std::size_t transLength);
void dgecon_(const char *norm, const lapack_int *n, const double *a, const lapack_int *lda,
             const double *anorm, double *rcond, double *work, lapack_int *iwork, lapack_int *info,
             std::size_t normLength);
double dlange_(const char *norm, const lapack_int *m, const lapack_int *n, const double *a,
               const lapack_int *lda, double *work, std::size_t normLength);
void dgeequ_(const lapack_int *m, const lapack_int *n, const double *a, const lapack_int *lda,
             double *r, double *c, double *rowcnd, double *colcnd, double *amax, lapack_int *info);
void dlaqge_(const lapack_int *m, const lapack_int *n, double *a, const lapack_int *lda,
             const double *r, const double *c, const double *rowcnd, const double *colcnd,
             const double *amax, char *equed, std::size_t equedLength);
void dgeqpf_(const lapack_int *m, const lapack_int *n, double *a, const lapack_int *lda,
             lapack_int *jpvt, double *tau, double *work, lapack_int *info);
void dlaic1_(const lapack_int *job, const lapack_int *j, const double *x, const double *sest,
             const double *w, const double *gamma, double *sestpr, double *s, double *c);
void dtzrqf_(const lapack_int *m, const lapack_int *n, double *a, const lapack_int *lda,
             double *tau, lapack_int *info);
// a is changed during the call and restored before it returns.
void dorm2r_(const char *side, const char *trans, const lapack_int *m, const lapack_int *n,
             const lapack_int *k, double *a, const lapack_int *lda, const double *tau, double *c,
             const lapack_int *ldc, double *work, lapack_int *info, std::size_t sideLength,
             std::size_t transLength);
void dlatzm_(const char *side, const lapack_int *m, const lapack_int *n, const double *v,
             const lapack_int *incv, const double *tau, double *c1, double *c2,
             const lapack_int *ldc, double *work, std::size_t sideLength);

// Argument-error handler called by LAPACK and BLAS; defined by the solver.
void xerbla_(const char *srname, const lapack_int *info, std::size_t srnameLength);

// ---- BLAS ------------------------------------------------------------------

void dtrsm_(const char *side, const char *uplo, const char *transa, const char *diag,
            const lapack_int *m, const lapack_int *n, const double *alpha, const double *a,
            const lapack_int *lda, double *b, const lapack_int *ldb, std::size_t sideLength,
            std::size_t uploLength, std::size_t transaLength, std::size_t diagLength);
void dgemv_(const char *trans, const lapack_int *m, const lapack_int *n, const double *alpha,
            const double *a, const lapack_int *lda, const double *x, const lapack_int *incx,
            const double *beta, double *y, const lapack_int *incy, std::size_t transLength);
void dcopy_(const lapack_int *n, const double *x, const lapack_int *incx, double *y,
            const lapack_int *incy);

} // extern "C"
