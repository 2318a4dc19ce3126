// The lint of the page's JavaScript (web/*.js), run from the project's root by scripts/lint.sh.
import js from '@eslint/js';
import globals from 'globals';

export default [
  js.configs.recommended,
  {
    files: ['web/*.js'],
    languageOptions: { ecmaVersion: 2022, sourceType: 'module', globals: globals.browser },
    rules: {
      'no-unused-vars': ['error', { caughtErrors: 'none', argsIgnorePattern: '^_' }],
      eqeqeq: 'error',
      'prefer-const': 'error',
      'no-var': 'error',
    },
  },
  { files: ['web/core-worker.js'], languageOptions: { globals: globals.worker } },
  { files: ['web/sw.js'], languageOptions: { globals: globals.serviceworker } },
  { files: ['web/*.mjs'], languageOptions: { ecmaVersion: 2022, sourceType: 'module', globals: globals.node } },
];
