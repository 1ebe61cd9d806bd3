#pragma once
// Arithmetic in GF(2^8) on the primitive polynomial 0x11D (generator 2), the
// symbol field of the codeword's Reed-Solomon code.
#include <array>
#include <vector>

namespace orb {

struct GaloisTables {
    // exp[i] = exp[i + 255] = 2^i, so a sum of two logarithms needs no reduction.
    std::array<int, 510> exp{};
    // log[2^i] = i; log[0] = 255 and is never used as a logarithm.
    std::array<int, 256> log{};
};

// Built once per process on first use; safe when several threads get here
// at the same time.
const GaloisTables& galoisTables();

// Polynomial over the field, coefficients in ascending order of degree.
using GfPolynomial = std::vector<int>;

inline int gfMultiply(const GaloisTables& t, int a, int b)
{
    return (a == 0 || b == 0) ? 0 : t.exp[t.log[a] + t.log[b]];
}
int gfMultiply(int a, int b);
// Throws OCException(EccUncorrectable) when b is zero.
int gfDivide(int a, int b);
// a to the power n (n >= 0); 0^0 = 1.
int gfPower(int a, int n);

GfPolynomial gfPolyMultiply(const GfPolynomial& a, const GfPolynomial& b);
int gfPolyEvaluate(const GfPolynomial& p, int x);
// Index of the highest non-zero coefficient; -1 for the zero polynomial.
int gfPolyDegree(const GfPolynomial& p);

// (x + 2^1)(x + 2^2)...(x + 2^eccLength): monic, degree eccLength.
GfPolynomial rsGenerator(int eccLength);

} // namespace orb
