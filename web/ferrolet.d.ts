// The core as the WebAssembly build exports it (web/CMakeLists.txt), for the type checker: each
// web_NAME call of web/boundary.js takes the session and its arguments and gives where its result is.
export interface Core {
  HEAPU8: Uint8Array;
  _malloc(size: number): number;
  _free(at: number): void;
  _web_session(): number;
  [call: `_web_${string}`]: (...args: number[]) => number;
}
export default function loadFerrolet(): Promise<Core>;
