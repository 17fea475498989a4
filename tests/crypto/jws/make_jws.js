// Signs JWS documents with node's crypto module for the JWS tests.
// Usage: node make_jws.js DIR
// DIR holds rsa.pem, p256.pem, p384.pem, p521.pem (PKCS#8 keys) and the
// matching self-signed certificates rsa.der ... p521.der, and hs.key (the
// HMAC secret). Prints one line per document: PATH ALG KIND JWS, where PATH
// names the store the document is meant for and KIND is "good", "tampered"
// (one signature byte changed), "expired" or "early" (nbf in the future).
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const path = require('path');
const dir = process.argv[2];

const b64u = (b) => Buffer.from(b).toString('base64url');
const read = (name) => fs.readFileSync(path.join(dir, name));
const families = {
  RS256: ['rsa', 'sha256'], RS384: ['rsa', 'sha384'], RS512: ['rsa', 'sha512'],
  ES256: ['p256', 'sha256'], ES384: ['p384', 'sha384'], ES512: ['p521', 'sha512'],
};
const hsDigest = { HS256: 'sha256', HS384: 'sha384', HS512: 'sha512' };

function sign(alg, input) {
  if (hsDigest[alg]) return crypto.createHmac(hsDigest[alg], read('hs.key')).update(input).digest();
  const [key, digest] = families[alg];
  const pem = read(key + '.pem');
  return crypto.sign(digest, Buffer.from(input), { key: pem, dsaEncoding: 'ieee-p1363' });
}

function emit(storePath, alg, header, claims) {
  const now = Math.floor(Date.now() / 1000);
  const kinds = {
    good: Object.assign({ app: 'velmarsh', exp: now + 3600, nbf: now - 60 }, claims),
    expired: { app: 'velmarsh', exp: now - 10 },
    early: { app: 'velmarsh', nbf: now + 3600 },
  };
  for (const [kind, payload] of Object.entries(kinds)) {
    const input = b64u(JSON.stringify(header)) + '.' + b64u(JSON.stringify(payload));
    const signature = sign(alg, input);
    console.log(storePath, alg, kind, input + '.' + b64u(signature));
    if (kind === 'good') {
      signature[signature.length >> 1] ^= 1;
      console.log(storePath, alg, 'tampered', input + '.' + b64u(signature));
    }
  }
}

for (const alg of Object.keys(hsDigest)) emit('hs', alg, { alg }, {});
for (const [alg, [key]] of Object.entries(families)) {
  const cert = read(key + '.der');
  const x5c = [cert.toString('base64')];
  const x5t = b64u(crypto.createHash('sha1').update(cert).digest());
  const x5t256 = b64u(crypto.createHash('sha256').update(cert).digest());
  emit('key', alg, { alg }, {});
  emit('platform', alg, { alg, x5c }, {});
  emit('thumbprint', alg, { alg, x5c }, {});
  emit('kid', alg, { alg, kid: key + '-key' }, {});
  emit('x5t', alg, { alg, x5t }, {});
  emit('x5t#S256', alg, { alg, 'x5t#S256': x5t256 }, {});
}

// The key set for the JWKS paths: one member per algorithm (a member names
// one "alg"), each named every way.
const keys = [];
for (const [alg, [key]] of Object.entries(families)) {
  const jwk = crypto.createPublicKey(read(key + '.pem')).export({ format: 'jwk' });
  const cert = read(key + '.der');
  keys.push(Object.assign(jwk, {
    use: 'sig', alg, kid: key + '-key',
    x5t: b64u(crypto.createHash('sha1').update(cert).digest()),
    'x5t#S256': b64u(crypto.createHash('sha256').update(cert).digest()),
  }));
}
fs.writeFileSync(path.join(dir, 'jwks.json'), JSON.stringify({ keys }));
