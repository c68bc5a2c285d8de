// The page's worker, appended to sonvault.js after the module factory, so the page starts the
// tool's own script as its worker. Each run gets a fresh module instance: the C stdio streams
// of a finished run are at end of file and would answer the next run's questions with EOF.
if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  (() => {
    // The page fetches sonvault.wasm while it loads and posts it here; compiled once, it is
    // instantiated for every run without another request.
    let compiled = null;

    // Collects bytes as the tool writes them, so the transcript is exactly what it printed.
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

    // files: [{path, blob}] laid into the working directory; args: argv[1..]; input: the typed
    // characters (EOF after them); keep: the path to hand back after a successful run.
    async function run({ files, args, input, keep }) {
      const contents = await Promise.all(files.map((file) => file.blob.arrayBuffer()));
      const transcript = new ByteSink();
      const typed = new TextEncoder().encode(input);
      let nextTyped = 0;
      // Where the transcript stood when the tool first waited for a key: right after the
      // question in insert mode.
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

      const module = await createSonvault({
        thisProgram: 'sonvault',
        instantiateWasm(imports, receive) {
          WebAssembly.instantiate(compiled, imports).then((instance) => receive(instance, compiled));
          return {};
        },
        preRun: [(instance) => instance.FS.init(stdin, print, print)],
        print: () => {},
        printErr: () => {},
      });
      const fs = module.FS;
      fs.mkdir('/run');
      fs.chdir('/run');
      files.forEach((file, index) => {
        const slash = file.path.lastIndexOf('/');
        if (slash > 0) fs.mkdirTree(file.path.slice(0, slash));
        fs.writeFile(file.path, new Uint8Array(contents[index]));
      });

      const started = performance.now();
      const status = module.callMain(args);
      const milliseconds = performance.now() - started;

      let kept = null;
      if (status === 0 && keep && fs.analyzePath(keep).exists) kept = fs.readFile(keep);
      return { status, console: transcript.take(), firstRead, kept, milliseconds };
    }

    self.onmessage = async ({ data }) => {
      if (data.type === 'wasm') {
        try {
          compiled = await WebAssembly.compile(data.bytes);
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
}
