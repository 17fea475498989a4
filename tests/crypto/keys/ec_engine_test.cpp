// The curve engine beside openssl and a plain affine model in Python: the
// table's constants equal openssl's explicit parameters of each curve; both
// walks (the fixed one for secrets, the variable one for public scalars)
// give Python's k·G and k·Q for k = 1, 2, n - 2, n - 1 and random k; the
// two-scalar walk, addition with its special cases, square roots and the
// scalar field agree with Python's integers.
#include <gtest/gtest.h>
#include <stdio.h>

#include <random>
#include <sstream>

#include "crypto/keys/ec_internal.h"
#include "tests/support/python.h"
#include "tests/support/requirement.h"
#include "tests/support/runtime.h"

namespace {

using EcEngineTest = RuntimeTest;

const char *OpenSslName(const std::string &Name) {
    if (Name == "P-192") return "prime192v1";
    if (Name == "P-224") return "secp224r1";
    if (Name == "P-256") return "prime256v1";
    if (Name == "P-384") return "secp384r1";
    if (Name == "P-521") return "secp521r1";
    return nullptr;
}

std::string Hex(const uint8 *Bytes, int32 Size) { return ToHex(std::string((const char *)Bytes, (size_t)Size)); }

// The Python model: affine arithmetic with the curve's constants, reading one
// request per line ("mul k x y", "add x1 y1 x2 y2", "two u1 u2 x y", "sqrt x
// odd", "inv a") and answering hex (or "inf" / "none").
const char *Model = R"(
import sys
p, a, b, gx, gy, n = (int(v, 16) for v in sys.stdin.readline().split())
def add(P, Q):
    if P is None: return Q
    if Q is None: return P
    if P[0] == Q[0] and (P[1] + Q[1]) % p == 0: return None
    if P == Q: l = (3 * P[0] * P[0] + a) * pow(2 * P[1], -1, p) % p
    else: l = (Q[1] - P[1]) * pow(Q[0] - P[0], -1, p) % p
    x = (l * l - P[0] - Q[0]) % p
    return (x, (l * (P[0] - x) - P[1]) % p)
def mul(k, P):
    R = None
    while k:
        if k & 1: R = add(R, P)
        P = add(P, P); k >>= 1
    return R
def out(P): print('inf' if P is None else '%x %x' % P)
for line in sys.stdin:
    w = line.split(); v = [int(x, 16) for x in w[1:]]
    if w[0] == 'mul': out(mul(v[0], (v[1], v[2])))
    elif w[0] == 'add': out(add((v[0], v[1]), (v[2], v[3])))
    elif w[0] == 'two': out(add(mul(v[0], (gx, gy)), mul(v[1], (v[2], v[3]))))
    elif w[0] == 'sqrt':
        t = (v[0] ** 3 + a * v[0] + b) % p; y = pow(t, (p + 1) // 4, p)
        if y * y % p != t: print('none')
        else: print('%x' % (y if y % 2 == v[1] else (p - y) % p))
    elif w[0] == 'inv': print('%x' % pow(v[0], -1, n))
    elif w[0] == 'ops': print('%x %x' % (v[0] * v[1] % n, (v[0] + v[1]) % n))
)";

std::string Strip(std::string Hex) {
    size_t At = Hex.find_first_not_of('0');
    return At == std::string::npos ? "0" : Hex.substr(At);
}

TEST_F(EcEngineTest, TableHoldsOpenSslParameters) {
    for (int32 Index = 0; Index < ec::CurveCount(); Index++) {
        const ec::CurveParams *Curve = ec::CurveAt(Index);
        const char *Name = OpenSslName(Curve->Name);
        std::string Command = std::string("openssl ecparam -name ") + (Name ? Name : Curve->Name) +
                              " -param_enc explicit -outform DER 2>/dev/null | od -An -v -tx1";
        FILE *Pipe = popen(Command.c_str(), "r");
        ASSERT_NE(Pipe, nullptr);
        std::string Der;
        char Line[512];
        while (fgets(Line, sizeof(Line), Pipe)) Der += Line;
        pclose(Pipe);
        SKIP_UNLESS(!Der.empty(), "openssl is missing");
        std::string Script = R"(
import sys
d = bytes.fromhex(sys.stdin.read().replace(' ', '').replace('\n', ''))
def rd(b, i):
    l = b[i + 1]; i += 2
    if l & 0x80: k = l & 0x7f; l = int.from_bytes(b[i:i + k], 'big'); i += k
    return b[i:i + l], i + l
body, _ = rd(d, 0); _, i = rd(body, 0); fid, i = rd(body, i); curve, i = rd(body, i); base, i = rd(body, i)
order, i = rd(body, i)
_, j = rd(fid, 0); p, _ = rd(fid, j); a, j = rd(curve, 0); bb, _ = rd(curve, j); h = (len(base) - 1) // 2
print(' '.join('%x' % int.from_bytes(v, 'big') for v in (p, a, bb, base[1:1 + h], base[1 + h:], order)))
)";
        std::ostringstream Ours;
        Ours << Strip(Curve->P) << ' ' << Strip(Curve->A) << ' ' << Strip(Curve->B) << ' ' << Strip(Curve->Gx)
             << ' ' << Strip(Curve->Gy) << ' ' << Strip(Curve->N) << '\n';
        std::string Lower = Ours.str();
        for (char &C : Lower) C = (char)tolower(C);
        EXPECT_EQ(RunPython(Script, Der), Lower) << Curve->Name;
    }
}

TEST_F(EcEngineTest, AgreesWithAffineModel) {
    std::mt19937_64 Random(29);
    for (int32 Index = 0; Index < ec::CurveCount(); Index++) {
        const ec::CurveParams *Curve = ec::CurveAt(Index);
        const ec::Engine *E = ec::EngineFor(Curve);
        const int32 F = E->FieldBytes, S = E->ScalarBytes;
        std::vector<uint8> N(S), Gx(F), Gy(F);
        ec::HexToBytes(Curve->N, N.data(), S);
        ec::HexToBytes(Curve->Gx, Gx.data(), F);
        ec::HexToBytes(Curve->Gy, Gy.data(), F);
        // Scalars: 1, 2, n - 2, n - 1 and random ones below n.
        std::vector<std::vector<uint8>> Scalars;
        auto Small = [&](int Value) {
            std::vector<uint8> K(S);
            K[S - 1] = (uint8)Value;
            return K;
        };
        Scalars.push_back(Small(1));
        Scalars.push_back(Small(2));
        for (int Minus : {2, 1}) {
            std::vector<uint8> K = N;
            K[S - 1] = (uint8)(K[S - 1] - Minus); // n ends in an odd byte above 2 on every curve
            Scalars.push_back(K);
        }
        for (int I = 0; I < 6; I++) {
            std::vector<uint8> K(S);
            for (uint8 &Byte : K) Byte = (uint8)Random();
            if (E->OrderBits % 8) K[0] &= (uint8)((1 << (E->OrderBits % 8)) - 1); // below 2^OrderBits < 2n
            E->ScalarReduce(K.data(), S, K.data());
            K[0] &= (uint8)(I % 2 ? 0x0F : 0xFF); // short scalars too
            Scalars.push_back(K);
        }
        std::ostringstream Requests, Expected;
        std::ostringstream Answers;
        Requests << Strip(Curve->P) << ' ' << Strip(Curve->A) << ' ' << Strip(Curve->B) << ' ' << Strip(Curve->Gx)
                 << ' ' << Strip(Curve->Gy) << ' ' << Strip(Curve->N) << '\n';
        std::vector<uint8> X(F), Y(F), X2(F), Y2(F), Qx(F), Qy(F);
        // Q = 7·G, a point other than G for the second operand.
        ASSERT_TRUE(E->Multiply(Small(7).data(), nullptr, nullptr, false, Qx.data(), Qy.data()));
        auto Point = [&](bool Finite) { return Finite ? Strip(Hex(X.data(), F)) + " " + Strip(Hex(Y.data(), F)) : "inf"; };
        for (const auto &K : Scalars) {
            Requests << "mul " << Hex(K.data(), S) << ' ' << Hex(Gx.data(), F) << ' ' << Hex(Gy.data(), F) << '\n';
            const bool Fixed = E->Multiply(K.data(), nullptr, nullptr, true, X.data(), Y.data());
            Answers << Point(Fixed) << '\n';
            const bool Variable = E->Multiply(K.data(), nullptr, nullptr, false, X2.data(), Y2.data());
            EXPECT_EQ(Fixed, Variable);
            EXPECT_EQ(X, X2) << Curve->Name;
            EXPECT_EQ(Y, Y2) << Curve->Name;
            Requests << "mul " << Hex(K.data(), S) << ' ' << Hex(Qx.data(), F) << ' ' << Hex(Qy.data(), F) << '\n';
            Answers << Point(E->Multiply(K.data(), Qx.data(), Qy.data(), true, X.data(), Y.data())) << '\n';
            Requests << "two " << Hex(K.data(), S) << ' ' << Hex(Scalars[5].data(), S) << ' ' << Hex(Qx.data(), F)
                     << ' ' << Hex(Qy.data(), F) << '\n';
            Answers << Point(E->MultiplyTwo(K.data(), Scalars[5].data(), Qx.data(), Qy.data(), X.data(), Y.data()))
                    << '\n';
            std::vector<uint8> Inverse(S), Product(S), Sum(S);
            E->ScalarInvert(K.data(), Inverse.data());
            Requests << "inv " << Hex(K.data(), S) << '\n';
            Answers << Strip(Hex(Inverse.data(), S)) << '\n';
            E->ScalarMultiply(K.data(), Scalars[6].data(), Product.data());
            E->ScalarAdd(K.data(), Scalars[6].data(), Sum.data());
            Requests << "ops " << Hex(K.data(), S) << ' ' << Hex(Scalars[6].data(), S) << '\n';
            Answers << Strip(Hex(Product.data(), S)) << ' ' << Strip(Hex(Sum.data(), S)) << '\n';
        }
        // Addition: G + Q, G + G, G + (-G).
        for (int Case = 0; Case < 3; Case++) {
            std::vector<uint8> Bx = Case == 0 ? Qx : Gx, By = Case == 0 ? Qy : Gy;
            if (Case == 2) {
                // -G through (n - 1)·G.
                std::vector<uint8> K = N;
                K[S - 1] = (uint8)(K[S - 1] - 1);
                E->Multiply(K.data(), nullptr, nullptr, false, Bx.data(), By.data());
            }
            Requests << "add " << Hex(Gx.data(), F) << ' ' << Hex(Gy.data(), F) << ' ' << Hex(Bx.data(), F) << ' '
                     << Hex(By.data(), F) << '\n';
            Answers << Point(E->Add(Gx.data(), Gy.data(), 0, Bx.data(), By.data(), 0, X.data(), Y.data()) == 0)
                    << '\n';
        }
        // Square roots: recover the y of G and of -G from x alone.
        if (Curve->SqrtKind == ec::SqrtPower)
            for (int Odd = 0; Odd < 2; Odd++) {
                Requests << "sqrt " << Hex(Gx.data(), F) << ' ' << Odd << '\n';
                Answers << (E->Decompress(Gx.data(), Odd, Y.data()) ? Strip(Hex(Y.data(), F)) : "none") << '\n';
            }
        std::istringstream Want(RunPython(Model, Requests.str())), Got(Answers.str()), Asked(Requests.str());
        std::string WantLine, GotLine, AskedLine;
        std::getline(Asked, AskedLine);
        while (std::getline(Got, GotLine)) {
            std::getline(Want, WantLine);
            std::getline(Asked, AskedLine);
            EXPECT_EQ(GotLine, WantLine) << Curve->Name << ": " << AskedLine;
        }
        EXPECT_TRUE(E->IsOnCurve(Gx.data(), Gy.data()));
        Gy[F - 1] ^= 1;
        EXPECT_FALSE(E->IsOnCurve(Gx.data(), Gy.data()));
    }
}

} // namespace
