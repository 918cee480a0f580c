// G.726 per-sample processing. Each helper is one block of the
// Recommendation's fixed-point description; every result is masked to the
// block's word width, because the wrap-around is part of the algorithm (the
// reconstructed signal, for one, wraps at 16 bits and feeds the predictor
// wrapped).
#include "voice/g726.h"

#include "voice/g726_tables.h"

namespace tessaly::voice {
namespace {

// Position of the highest set bit plus one (0 for 0): the exponent of the
// Recommendation's floating formats.
inline int Exponent(uint32_t magnitude) { return magnitude ? 32 - __builtin_clz(magnitude) : 0; }

// 16-bit magnitude to the 11-bit floating format: sign, 4-bit exponent,
// 6-bit mantissa with its leading one (32 stands for zero).
inline uint32_t ToFloat(uint32_t sign, uint32_t magnitude) {
    const int exp = Exponent(magnitude);
    const uint32_t mant = magnitude ? (magnitude << 6) >> exp : 32;
    return (sign << 10) + (static_cast<uint32_t>(exp) << 6) + mant;
}

// FMULT: a predictor coefficient (16-bit two's complement) times a delayed
// signal in floating format; the product as 16-bit two's complement.
uint32_t MultiplyFloat(uint32_t coefficient, uint32_t value) {
    const uint32_t an = coefficient & 0xFFFF;
    const uint32_t ans = an >> 15;
    const uint32_t anmag = ans ? (16384 - (an >> 2)) & 8191 : an >> 2;
    const int anexp = Exponent(anmag);
    const uint32_t anmant = anmag ? (anmag << 6) >> anexp : 32;

    const uint32_t srs = value >> 10;
    const int srexp = (value >> 6) & 15;
    const uint32_t srmant = value & 63;

    const uint32_t wans = srs ^ ans;
    const int wanexp = srexp + anexp;
    const uint32_t wanmant = (srmant * anmant + 48) >> 4;
    const uint32_t wanmag = wanexp <= 26 ? (wanmant << 7) >> (26 - wanexp) : ((wanmant << 7) << (wanexp - 26)) & 32767;
    return wans ? (65536 - wanmag) & 65535 : wanmag;
}

// Sign-magnitude dq (16 bits) to two's complement.
inline uint32_t SignMagnitudeToTc(uint32_t dq) { return (dq >> 15) ? (65536 - (dq & 32767)) & 65535 : dq & 65535; }

// What both directions compute before the code is known.
struct Prediction {
    uint32_t se;   // signal estimate, 15 bits
    uint32_t sez;  // partial estimate from the zeros, 15 bits
    uint32_t y;    // quantizer scale factor, 13 bits
};

Prediction Predict(const G726State &st) {
    uint32_t sezi = 0;
    for (int k = 0; k < 6; ++k) sezi = (sezi + MultiplyFloat(st.b[k], st.dq[k])) & 65535;
    const uint32_t wa2 = MultiplyFloat(st.a2, st.sr1);
    const uint32_t wa1 = MultiplyFloat(st.a1, st.sr0);
    const uint32_t sei = (((sezi + wa2) & 65535) + wa1) & 65535;

    // MIX: yu and yl blended by the speed control; the product's magnitude is
    // truncated before the sign is attached.
    const uint32_t al = st.ap >= 256 ? 64 : st.ap >> 2;
    const uint32_t dif = (st.yu + 16384 - (st.yl >> 6)) & 16383;
    const uint32_t difs = dif >> 13;
    const uint32_t difm = difs ? (16384 - dif) & 8191 : dif;
    const uint32_t prodm = (difm * al) >> 6;
    const uint32_t prod = difs ? (16384 - prodm) & 16383 : prodm;
    const uint32_t y = ((st.yl >> 6) + prod) & 8191;

    return {sei >> 1, sezi >> 1, y};
}

// Everything after the code: inverse quantizer, reconstruction, and the
// adaptation of every state variable. Returns the reconstructed signal sr as
// 16-bit two's complement.
uint32_t Update(G726State &st, const Prediction &p, int code) {
    const G726RateTables &t = kG726Rates[st.bits];
    const int signBit = 1 << (st.bits - 1);
    const int maxCode = (1 << st.bits) - 1;
    const int magnitudeIndex = (code & signBit) ? (maxCode - code) & (signBit - 1) : code & (signBit - 1);

    // RECONST, ADDA, ANTILOG: dq in 16-bit sign-magnitude.
    const uint32_t dqs = code >> (st.bits - 1);
    const uint32_t dql = (t.reconstruct[code] + (p.y >> 2)) & 4095;
    // (1 + mantissa) x 2^exponent; the exponent never exceeds 14 from a state
    // the coder produced, but a corrupt state must not shift out of range.
    const uint32_t dqmag = (dql >> 11) ? 0 : (((128 + (dql & 127)) << 8) >> (15 - ((dql >> 7) & 15))) & 32767;
    const uint32_t dq = (dqs << 15) + dqmag;

    // TRANS, on the scale factor before this sample's update.
    const uint32_t ylint = st.yl >> 15;
    const uint32_t ylfrac = (st.yl >> 10) & 31;
    const uint32_t thr = ylint > 9 ? 31744 : (ylfrac + 32) << ylint;
    const uint32_t dqthr = (thr + (thr >> 1)) >> 1;
    const bool transition = st.td == 1 && dqmag > dqthr;

    // FUNCTF, FILTA, FILTB: short- and long-term averages of F(I).
    const uint32_t fi = t.speedFunction[magnitudeIndex];
    uint32_t dif = ((fi << 9) + 8192 - st.dms) & 8191;
    const uint32_t dmsp = (((dif >> 12) ? (dif >> 5) + 3840 : dif >> 5) + st.dms) & 4095;
    dif = ((fi << 11) + 32768 - st.dml) & 32767;
    const uint32_t dmlp = (((dif >> 14) ? (dif >> 7) + 16128 : dif >> 7) + st.dml) & 16383;

    // FUNCTW, FILTD, LIMB, FILTE: fast and slow scale factors.
    const uint32_t wi = t.scaleMultiplier[magnitudeIndex];
    dif = ((wi << 5) + 131072 - p.y) & 131071;
    const uint32_t yut = (p.y + ((dif >> 16) ? (dif >> 5) + 4096 : dif >> 5)) & 8191;
    const uint32_t geul = ((yut + 11264) & 16383) >> 13;
    const uint32_t gell = ((yut + 15840) & 16383) >> 13;
    const uint32_t yup = gell == 1 ? 544 : geul == 0 ? 5120 : yut;
    dif = (yup + ((1048576 - st.yl) >> 6)) & 16383;
    const uint32_t ylp = (st.yl + ((dif >> 13) ? dif + 507904 : dif)) & 524287;

    // ADDC: sign of dq + sez, and whether it is zero.
    const uint32_t dqi = SignMagnitudeToTc(dq);
    const uint32_t sezi = (p.sez >> 14) ? p.sez + 32768 : p.sez;
    const uint32_t dqsez = (dqi + sezi) & 65535;
    const uint32_t pk0 = dqsez >> 15;
    const bool sigpk = dqsez == 0;
    const uint32_t pk1 = st.pk0;
    const uint32_t pk2 = st.pk1;

    // ADDB: the reconstructed signal, wrapping at 16 bits.
    const uint32_t sei = (p.se >> 14) ? p.se + 32768 : p.se;
    const uint32_t sr = (dqi + sei) & 65535;

    // UPA2, LIMC: second pole.
    const uint32_t a1 = st.a1 & 65535, a2 = st.a2 & 65535;
    uint32_t fa1;
    if ((a1 >> 15) == 0)
        fa1 = a1 <= 8191 ? a1 << 2 : 8191 << 2;
    else
        fa1 = a1 >= 57345 ? (a1 << 2) & 131071 : 24577 << 2;
    const uint32_t fa = (pk0 ^ pk1) ? fa1 : (131072 - fa1) & 131071;
    const uint32_t uga2b = (((pk0 ^ pk2) ? 114688u : 16384u) + fa) & 131071;
    const uint32_t uga2 = sigpk ? 0 : (uga2b >> 16) ? (uga2b >> 7) + 64512 : uga2b >> 7;
    const uint32_t ula2 = (a2 >> 15) ? (65536 - ((a2 >> 7) + 65024)) & 65535 : (65536 - (a2 >> 7)) & 65535;
    const uint32_t a2t = (a2 + ((uga2 + ula2) & 65535)) & 65535;
    uint32_t a2p = a2t;
    if (a2t >= 32768 && a2t <= 53248)
        a2p = 53248;
    else if (a2t >= 12288 && a2t <= 32767)
        a2p = 12288;

    // UPA1, LIMD: first pole, bounded by the second.
    const uint32_t uga1 = sigpk ? 0 : (pk0 ^ pk1) ? 65344 : 192;
    const uint32_t ash = a1 >> 8;
    const uint32_t ula1 = ((a1 >> 15) ? 65536 - (ash + 65280) : 65536 - ash) & 65535;
    const uint32_t a1t = (a1 + ((uga1 + ula1) & 65535)) & 65535;
    const uint32_t a1ul = (15360 + 65536 - a2p) & 65535;
    const uint32_t a1ll = (a2p + 65536 - 15360) & 65535;
    uint32_t a1p = a1t;
    if (a1t >= 32768 && a1t <= a1ll)
        a1p = a1ll;
    else if (a1t >= a1ul && a1t <= 32767)
        a1p = a1ul;

    // TONE, SUBTC, FILTC: partial band signal detection and speed control.
    const uint32_t tdp = (a2p >= 32768 && a2p < 53760) ? 1 : 0;
    dif = ((dmsp << 2) + 32768 - dmlp) & 32767;
    const uint32_t difm = (dif >> 14) ? (32768 - dif) & 16383 : dif;
    const uint32_t ax = (p.y >= 1536 && difm < (dmlp >> 3) && tdp == 0) ? 0 : 1;
    dif = ((ax << 9) + 2048 - st.ap) & 2047;
    const uint32_t app = (((dif >> 10) ? (dif >> 4) + 896 : dif >> 4) + st.ap) & 1023;

    // XOR, UPB: the six zeros, with the leak of 2^-9 at 40 kbit/s.
    const int leak = st.bits == 5 ? 9 : 8;
    const uint32_t leakSign = st.bits == 5 ? 65408 : 65280;
    const uint32_t dqSign = dq >> 15;
    for (int k = 0; k < 6; ++k) {
        const uint32_t bk = st.b[k] & 65535;
        const uint32_t u = dqSign ^ (st.dq[k] >> 10);
        const uint32_t ugb = dqmag == 0 ? 0 : u ? 65408 : 128;
        const uint32_t ulb = ((bk >> 15) ? 65536 - ((bk >> leak) + leakSign) : 65536 - (bk >> leak)) & 65535;
        st.b[k] = transition ? 0 : (bk + ((ugb + ulb) & 65535)) & 65535;
    }

    // Delay lines and the triggered updates.
    for (int k = 5; k > 0; --k) st.dq[k] = st.dq[k - 1];
    st.dq[0] = ToFloat(dq >> 15, dq & 32767);
    st.sr1 = st.sr0;
    const uint32_t srs = sr >> 15;
    st.sr0 = ToFloat(srs, srs ? (65536 - sr) & 32767 : sr);
    st.pk1 = pk1;
    st.pk0 = pk0;
    st.a2 = transition ? 0 : a2p;
    st.a1 = transition ? 0 : a1p;
    st.td = transition ? 0 : tdp;
    st.ap = transition ? 256 : app;
    st.dms = dmsp;
    st.dml = dmlp;
    st.yu = yup;
    st.yl = ylp;
    return sr;
}

// QUAN: the code for a difference signal d (16-bit two's complement).
int Quantize(const G726State &st, const Prediction &p, uint32_t d) {
    const G726RateTables &t = kG726Rates[st.bits];
    const bool negative = d >> 15;
    const uint32_t magnitude = negative ? (65536 - d) & 32767 : d;
    // LOG: 4-bit exponent and 7-bit mantissa of the magnitude.
    const int exp = magnitude ? 31 - __builtin_clz(magnitude) : 0;
    const uint32_t dl = (static_cast<uint32_t>(exp) << 7) + (((magnitude << 7) >> exp) & 127);
    // SUBTB: normalise by the scale factor.
    const uint32_t dln = (dl + 4096 - (p.y >> 2)) & 4095;

    int code = t.belowAll;
    for (int k = 0; k < t.decisionCount; ++k) {
        if (dln >= t.decisionLevel[k]) {
            code = t.decisionCode[k];
            break;
        }
    }
    const int maxCode = (1 << st.bits) - 1;
    if (negative) code = maxCode - code;
    // Only 16 kbit/s uses the all-zero code; the other rates send it as all ones.
    if (code == 0 && st.bits != 2) code = maxCode;
    return code;
}

}  // namespace

void G726Reset(G726State &st, int bits) {
    st = G726State{};
    st.law = 2;
    st.bits = static_cast<uint32_t>(bits);
    for (uint32_t &dq : st.dq) dq = 32;
    st.sr0 = st.sr1 = 32;
    st.yl = 34816;
    st.yu = 544;
}

int G726Encode(G726State &st, int16_t sample) {
    const Prediction p = Predict(st);
    // SUBTA with the 14-bit uniform input: the sample's top 14 bits.
    const uint32_t sl = static_cast<uint32_t>(sample >> 2) & 16383;
    const uint32_t sli = (sl >> 13) ? sl + 49152 : sl;
    const uint32_t sei = (p.se >> 14) ? p.se + 32768 : p.se;
    const uint32_t d = (sli + 65536 - sei) & 65535;
    const int code = Quantize(st, p, d);
    Update(st, p, code);
    return code;
}

int16_t G726Decode(G726State &st, int code) {
    const Prediction p = Predict(st);
    const uint32_t sr = Update(st, p, code & ((1 << st.bits) - 1));
    int value = static_cast<int16_t>(sr);
    value = value < -8192 ? -8192 : value > 8191 ? 8191 : value;
    return static_cast<int16_t>(value * 4);
}

}  // namespace tessaly::voice
