// The identity provider of the tests: oidc-provider over https on
// 127.0.0.1 (issuer https://localhost:PORT), with the device flow, the
// authorization code flow with PKCE for a native client (loopback redirect,
// any port), rotating refresh tokens, introspection of access tokens only
// (for Dovecot) and revocation. Memory store and development keys: tests only.
//
//   node server.js PORT CERT KEY   (env ACCESS_TOKEN_TTL: seconds, default 3600)
//
// The sign-in page at /interaction/UID asks only for a login name: its POST
// signs that user in and grants every scope the client asked for.
'use strict';
const fs = require('fs');
const https = require('https');
const querystring = require('querystring');

async function main() {
  const { default: Provider } = await import('oidc-provider');
  const [port, certFile, keyFile] = process.argv.slice(2);
  const issuer = `https://localhost:${port}`;
  const accessTtl = Number(process.env.ACCESS_TOKEN_TTL || 3600);
  const provider = new Provider(issuer, {
    clients: [
      {
        client_id: 'quorvel',
        application_type: 'native',
        token_endpoint_auth_method: 'none',
        grant_types: ['authorization_code', 'refresh_token', 'urn:ietf:params:oauth:grant-type:device_code'],
        response_types: ['code'],
        redirect_uris: ['http://127.0.0.1/'],
      },
      {
        client_id: 'dovecot',
        client_secret: 'introspection-secret',
        grant_types: [],
        response_types: [],
        redirect_uris: [],
      },
    ],
    scopes: ['openid', 'offline_access', 'mail'],
    claims: { openid: ['sub'] },
    findAccount: async (ctx, id) => ({ accountId: id, claims: async () => ({ sub: id }) }),
    // Dovecot takes the mailbox user from this claim of the introspection.
    extraTokenClaims: async (ctx, token) => ({ username: token.accountId }),
    features: {
      devInteractions: { enabled: false },
      deviceFlow: { enabled: true },
      revocation: { enabled: true },
      introspection: {
        enabled: true,
        // Only Dovecot, and only for access tokens: a refresh token must not
        // work as a mail password.
        allowedPolicy: async (ctx, client, token) => client.clientId === 'dovecot' && token.kind === 'AccessToken',
      },
    },
    pkce: { required: () => true },
    rotateRefreshToken: true,
    ttl: { AccessToken: accessTtl, DeviceCode: 600, Interaction: 600, Grant: 86400, Session: 86400,
           RefreshToken: 86400, AuthorizationCode: 60, IdToken: 3600 },
    interactions: { url: (ctx, interaction) => `/interaction/${interaction.uid}` },
    cookies: { keys: ['quorvel-test-cookie-key'] },
  });

  provider.use(async (ctx, next) => {
    const m = ctx.path.match(/^\/interaction\/([^/]+)$/);
    if (!m) return next();
    if (ctx.method === 'GET') {
      ctx.type = 'html';
      ctx.body = `<!DOCTYPE html><html><body><form method="post" action="/interaction/${m[1]}">` +
        '<input name="login"><button type="submit">Sign in</button></form></body></html>';
      return undefined;
    }
    const body = await new Promise((resolve) => {
      let data = '';
      ctx.req.on('data', (c) => { data += c; });
      ctx.req.on('end', () => resolve(querystring.parse(data)));
    });
    const details = await provider.interactionDetails(ctx.req, ctx.res);
    const accountId = String(body.login || '');
    if (!accountId) {
      ctx.status = 400;
      ctx.body = 'login missing';
      return undefined;
    }
    const grant = new provider.Grant({ accountId, clientId: details.params.client_id });
    const missing = details.prompt.details || {};
    grant.addOIDCScope((missing.missingOIDCScope || String(details.params.scope || '').split(' ')).join(' '));
    if (missing.missingOIDCClaims) grant.addOIDCClaims(missing.missingOIDCClaims);
    for (const [indicator, scopes] of Object.entries(missing.missingResourceScopes || {}))
      grant.addResourceScope(indicator, scopes.join(' '));
    const grantId = await grant.save();
    await provider.interactionFinished(ctx.req, ctx.res, { login: { accountId }, consent: { grantId } },
      { mergeWithLastSubmission: false });
    ctx.respond = false;
    return undefined;
  });

  // Every token issued, in the test's own log: the tests look for them
  // where they must never be (logs, quorvel.ini).
  for (const event of ['access_token.saved', 'refresh_token.saved']) {
    provider.on(event, (token) => { process.stdout.write(`issued ${token.jti}\n`); });
  }

  const server = https.createServer({ cert: fs.readFileSync(certFile), key: fs.readFileSync(keyFile) },
    provider.callback());
  server.listen(Number(port), '127.0.0.1', () => { process.stdout.write(`ready ${port}\n`); });
}

main().catch((e) => {
  process.stderr.write(`${e.stack}\n`);
  process.exit(1);
});
