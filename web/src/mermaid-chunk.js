// Entry of the separately loaded diagram renderer: it hands the renderer to
// the page through one global, since it is loaded as a classic script.
import mermaid from 'mermaid';

globalThis.QuorvelMermaid = mermaid;
