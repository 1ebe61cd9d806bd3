#include "orb/payload/galois_field.h"

#include "orb/result_code.h"

namespace orb {

namespace {
GaloisTables buildTables()
{
    GaloisTables t;
    int value = 1;
    for (int i = 0; i < 255; ++i) {
        t.exp[i] = value;
        t.exp[i + 255] = value;
        t.log[value] = i;
        value <<= 1;
        if (value & 0x100) value ^= 0x11D;
    }
    t.log[0] = 255;
    return t;
}
} // namespace

const GaloisTables& galoisTables()
{
    static const GaloisTables tables = buildTables();
    return tables;
}

int gfMultiply(int a, int b) { return gfMultiply(galoisTables(), a, b); }

int gfDivide(int a, int b)
{
    if (b == 0) throw OCException(EccUncorrectable, "");
    if (a == 0) return 0;
    const GaloisTables& t = galoisTables();
    return t.exp[t.log[a] + 255 - t.log[b]];
}

int gfPower(int a, int n)
{
    if (n == 0) return 1;
    if (a == 0) return 0;
    const GaloisTables& t = galoisTables();
    return t.exp[(static_cast<long long>(t.log[a]) * n) % 255];
}

GfPolynomial gfPolyMultiply(const GfPolynomial& a, const GfPolynomial& b)
{
    if (a.empty() || b.empty()) return {};
    const GaloisTables& t = galoisTables();
    GfPolynomial product(a.size() + b.size() - 1, 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] == 0) continue;
        for (std::size_t j = 0; j < b.size(); ++j) product[i + j] ^= gfMultiply(t, a[i], b[j]);
    }
    return product;
}

int gfPolyEvaluate(const GfPolynomial& p, int x)
{
    const GaloisTables& t = galoisTables();
    int value = 0;
    for (auto it = p.rbegin(); it != p.rend(); ++it) value = gfMultiply(t, value, x) ^ *it;
    return value;
}

int gfPolyDegree(const GfPolynomial& p)
{
    for (int i = static_cast<int>(p.size()) - 1; i >= 0; --i)
        if (p[i] != 0) return i;
    return -1;
}

GfPolynomial rsGenerator(int eccLength)
{
    const GaloisTables& t = galoisTables();
    GfPolynomial g{t.exp[1], 1};
    for (int i = 2; i <= eccLength; ++i) g = gfPolyMultiply(g, GfPolynomial{t.exp[i % 255], 1});
    return g;
}

} // namespace orb
