// Parses PowerShell files with the PowerShell grammar for tree-sitter (its
// WebAssembly build, through web-tree-sitter) and fails on any ERROR or
// MISSING node, so a script that Windows PowerShell would refuse to load is
// caught on Debian, where no PowerShell runs.
//   node powershell-parse.cjs <file.ps1>...
'use strict';
const fs = require('fs');
const { Parser, Language } = require('web-tree-sitter');

function faults(node, out) {
  if (node.type === 'ERROR' || node.isMissing)
    out.push(`${node.isMissing ? 'missing ' + node.type : 'cannot parse'} at line ${node.startPosition.row + 1}`);
  for (const child of node.children)
    if (child.hasError || child.isMissing || child.type === 'ERROR') faults(child, out);
  return out;
}

(async () => {
  await Parser.init();
  const language = await Language.load(require.resolve('tree-sitter-powershell/tree-sitter-powershell.wasm'));
  const parser = new Parser();
  parser.setLanguage(language);
  let failed = 0;
  for (const file of process.argv.slice(2)) {
    const tree = parser.parse(fs.readFileSync(file, 'utf8').replace(/^\uFEFF/, ''));
    const found = faults(tree.rootNode, []);
    if (found.length) {
      failed++;
      console.log(`FAIL ${file}: ${found.slice(0, 5).join('; ')}`);
    } else {
      console.log(`ok   ${file}`);
    }
  }
  if (process.argv.length < 3) { console.log('FAIL no PowerShell file given'); failed = 1; }
  process.exit(failed ? 1 : 0);
})();
