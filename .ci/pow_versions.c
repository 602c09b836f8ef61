/* Compares glibc's two x86-64 versions of pow bit for bit: pow@GLIBC_2.2.5, which the
 * module binds, and pow@GLIBC_2.29, which a plain build would bind. Exits 1 on the first
 * difference. Build: cc -O2 -ffp-contract=off pow_versions.c -lm */
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

double pow_old(double, double);
double pow_new(double, double);
__asm__(".symver pow_old,pow@GLIBC_2.2.5");
__asm__(".symver pow_new,pow@GLIBC_2.29");

static uint64_t bits(double x) {
    uint64_t u;
    memcpy(&u, &x, sizeof u);
    return u;
}

static uint64_t state = 0x9E3779B97F4A7C15u;
static uint64_t next(void) { /* xorshift64* */
    state ^= state >> 12, state ^= state << 25, state ^= state >> 27;
    return state * 0x2545F4914F6CDD1Du;
}
static double uniform(double lo, double hi) { return lo + (hi - lo) * ((next() >> 11) * 0x1p-53); }

static int same(double x, double y) {
    const double a = pow_old(x, y), b = pow_new(x, y);
    if (bits(a) == bits(b) || (isnan(a) && isnan(b))) return 1;
    printf("pow(%a, %a): %a (GLIBC_2.2.5) != %a (GLIBC_2.29)\n", x, y, a, b);
    return 0;
}

int main(void) {
    const double special[] = {
        0.0,      -0.0,      1.0,    -1.0,   0.5,   2.0,    -2.0,
        3.0,      -3.0,      1e-310, 5e-324, 1e300, -1e300, 1.7976931348623157e308,
        INFINITY, -INFINITY, NAN};
    const int ns = sizeof special / sizeof special[0];
    long checked = 0;
    for (int i = 0; i < ns; ++i)
        for (int j = 0; j < ns; ++j, ++checked)
            if (!same(special[i], special[j])) return 1;
    for (long k = 0; k < 1000000; ++k, ++checked) {
        /* The scaler's arguments: (index + 1) / temperature and a decay exponent; and raw bits. */
        const double x = k % 4 == 3 ? uniform(-10.0, 10.0) : exp(uniform(-40.0, 40.0));
        const double y = k % 2 ? uniform(-4.0, 4.0) : uniform(-400.0, 400.0);
        if (!same(x, y)) return 1;
        double rx, ry;
        const uint64_t ux = next(), uy = next();
        memcpy(&rx, &ux, sizeof rx), memcpy(&ry, &uy, sizeof ry);
        ++checked;
        if (!same(rx, ry)) return 1;
    }
    printf("pow@GLIBC_2.2.5 == pow@GLIBC_2.29 on %ld argument pairs\n", checked);
    return 0;
}
