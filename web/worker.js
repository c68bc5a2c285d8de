// The page's worker. The page builds it from a blob: the module factories of the programs it
// fetched while loading, then this file; a blob worker runs under the page's content security
// policy. Each run gets a fresh module instance: the C stdio streams of a finished run are at end
// of file and would answer the next run's questions with EOF.
(() => {
  'use strict';

  // name -> { factory, compiled }: the page posts each program's .wasm once, compiled here and
  // instantiated for every run without another request.
  const programs = new Map();

  // Collects bytes as a program writes them, so the transcript is exactly what it printed.
  class ByteSink {
    constructor() {
      this.bytes = new Uint8Array(4096);
      this.length = 0;
    }
    push(byte) {
      if (this.length === this.bytes.length) {
        const larger = new Uint8Array(this.bytes.length * 2);
        larger.set(this.bytes);
        this.bytes = larger;
      }
      this.bytes[this.length++] = byte;
    }
    take() {
      return this.bytes.slice(0, this.length);
    }
  }

  // program: a row of the table; files: [{path, blob}] laid into the working directory /run;
  // args: argv[1..]; input: the typed characters (EOF after them); keep: the path to hand back
  // after a successful run.
  async function run({ program, files, args, input, keep }) {
    const { factory, compiled } = programs.get(program);
    const contents = await Promise.all(files.map((file) => file.blob.arrayBuffer()));
    const transcript = new ByteSink();
    const typed = new TextEncoder().encode(input);
    let nextTyped = 0;
    // Where the transcript stood when the program first waited for a key: right after the
    // question when it asks one.
    let firstRead = -1;
    const stdin = () => {
      if (firstRead < 0) firstRead = transcript.length;
      // null is end of input; undefined would mean "try again later" to the file system.
      return nextTyped < typed.length ? typed[nextTyped++] : null;
    };
    // stdout and stderr share one console, as they do in a terminal.
    const print = (byte) => {
      if (byte !== null && byte !== undefined) transcript.push(byte & 0xff);
    };

    // An instance that cannot be created (out of memory, say) leaves the factory pending for
    // good; it ends the run here instead.
    let refused;
    const instanceRefused = new Promise((resolve, reject) => { refused = reject; });
    const module = await Promise.race([instanceRefused, factory({
      thisProgram: program,
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled), refused);
        return {};
      },
      preRun: [(instance) => instance.FS.init(stdin, print, print)],
      print: () => {},
      printErr: () => {},
    })]);
    const fs = module.FS;
    // Absolute paths: a relative one would be taken from the file system's root by mkdirTree.
    fs.mkdir('/run');
    fs.chdir('/run');
    files.forEach((file, index) => {
      const path = `/run/${file.path}`;
      fs.mkdirTree(path.slice(0, path.lastIndexOf('/')));
      fs.writeFile(path, new Uint8Array(contents[index]));
    });

    const started = performance.now();
    const status = module.callMain(args);
    const milliseconds = performance.now() - started;

    let kept = null;
    if (status === 0 && keep && fs.analyzePath(`/run/${keep}`).exists) kept = fs.readFile(`/run/${keep}`);
    return { status, console: transcript.take(), firstRead, kept, milliseconds };
  }

  self.onmessage = async ({ data }) => {
    if (data.type === 'load') {
      try {
        for (const { name, factory, bytes } of data.programs) {
          programs.set(name, { factory: self[factory], compiled: await WebAssembly.compile(bytes) });
        }
        self.postMessage({ type: 'ready' });
      } catch (error) {
        self.postMessage({ type: 'broken', message: String(error) });
      }
      return;
    }
    if (data.type !== 'run') return;
    try {
      const result = await run(data);
      const transfer = [result.console.buffer];
      if (result.kept) transfer.push(result.kept.buffer);
      self.postMessage({ type: 'result', id: data.id, ...result }, transfer);
    } catch (error) {
      self.postMessage({ type: 'crashed', id: data.id, message: String(error) });
    }
  };
})();
