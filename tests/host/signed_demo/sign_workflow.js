// Signs a JSON workflow document as a compact JWS (ES256) whose header
// carries the signer's certificate ("x5c"), for the signed demo in
// examples/ and the host's signed-workflow checks.
// Usage: node sign_workflow.js KEY.pem CERT.der DOCUMENT.json [EXP [NBF]]
// EXP and NBF, when given and not "-", become the payload's "exp" and "nbf"
// (seconds since 1970).
'use strict';
const crypto = require('crypto');
const fs = require('fs');
const [keyPath, certPath, documentPath, exp, nbf] = process.argv.slice(2);
const b64u = (b) => Buffer.from(b).toString('base64url');
const payload = JSON.parse(fs.readFileSync(documentPath, 'utf8'));
if (exp !== undefined && exp !== '-') payload.exp = Number(exp);
if (nbf !== undefined && nbf !== '-') payload.nbf = Number(nbf);
const header = { alg: 'ES256', x5c: [fs.readFileSync(certPath).toString('base64')] };
const input = b64u(JSON.stringify(header)) + '.' + b64u(JSON.stringify(payload));
const signature = crypto.sign('sha256', Buffer.from(input), {
  key: fs.readFileSync(keyPath), dsaEncoding: 'ieee-p1363',
});
process.stdout.write(input + '.' + b64u(signature) + '\n');
