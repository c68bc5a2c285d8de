// A table of songs as one grid (the WAI-ARIA grid pattern): one Tab stop, the arrow keys move
// between cells, Enter or Space acts on the cell, digits typed jump to that song. Only the rows
// in view are in the document, so a list of thousands of songs draws as fast as a short one.

const pageRows = 10;

// columns: [{ label, sort (a key of sorters), cell(song) -> text or node, action: 'play' }]
// prefix: for cell ids; onMove(song): the focused row changed; onEnter(song, column);
// onSort(key, direction): a header was pressed.
export class SongGrid {
  constructor({ box, table, columns, prefix, onMove = () => {}, onEnter = () => {}, onSort = () => {} }) {
    Object.assign(this, { box, table, columns, prefix, onMove, onEnter, onSort });
    this.songs = [];
    this.order = { key: 'number', direction: 'ascending' };
    this.row = 0;  // the focused row in the sorted order; -1 is the header
    this.column = 0;
    this.rowHeight = 0;
    this.typed = '';
    this.typedAt = 0;
    this.head = table.tHead.rows[0];
    this.body = table.tBodies[0];
    table.setAttribute('role', 'grid');
    this.head.setAttribute('aria-rowindex', '1');
    table.tabIndex = 0;
    [...this.head.cells].forEach((cell, index) => {
      cell.id = `${prefix}-h${index}`;
      cell.addEventListener('click', () => this.focusCell(-1, index, true));
    });
    table.addEventListener('keydown', (event) => this.key(event));
    table.addEventListener('focus', () => {
      this.typed = '';
      this.mark();
    });
    table.addEventListener('blur', () => this.mark());
    let pending = false;
    box.addEventListener('scroll', () => {
      if (pending) return;
      pending = true;
      requestAnimationFrame(() => { pending = false; this.draw(); });
    });
    this.body.addEventListener('click', (event) => {
      const row = event.target.closest('tr[data-index]');
      if (!row) return;
      const cell = event.target.closest('td, th');
      this.focusCell(Number(row.dataset.index), cell ? cell.cellIndex : this.column,
                     Boolean(event.target.closest('button')));
    });
  }

  // Back to the first song, in song order, as a new list comes.
  reset() {
    this.order = { key: 'number', direction: 'ascending' };
    for (const [index, column] of this.columns.entries()) {
      if (column.sort === 'number') this.head.cells[index].setAttribute('aria-sort', 'ascending');
      else this.head.cells[index].removeAttribute('aria-sort');
    }
    this.row = 0;
    this.column = 0;
    this.box.scrollTop = 0;
    this.box.scrollLeft = 0;
  }

  // The songs to show; the focus stays on the same song when it is still there.
  show(songs) {
    const focused = this.focusedSong();
    this.songs = this.sorted(songs);
    const at = focused ? this.songs.findIndex((song) => song.number === focused.number) : -1;
    this.row = at >= 0 ? at : Math.min(this.row, this.songs.length - 1);
    this.table.setAttribute('aria-rowcount', String(this.songs.length + 1));
    this.draw();
  }

  // Redraws the cells (a move changed what a row says) without resorting.
  refresh() {
    this.draw();
  }

  focusedSong() {
    return this.row >= 0 ? this.songs[this.row] || null : null;
  }

  sorted(songs) {
    const { key, direction } = this.order;
    const sign = direction === 'ascending' ? 1 : -1;
    const value = {
      number: (song) => song.number,
      tracks: (song) => song.tracks,
      length: (song) => (song.seconds === null ? -1 : song.seconds),
      bytes: (song) => (song.bytes === null ? Infinity : song.bytes),
    }[key];
    // Songs of one value stay in song order either way round.
    return [...songs].sort((a, b) => sign * (value(a) - value(b)) || a.number - b.number);
  }

  sortBy(key) {
    const direction = this.order.key === key && this.order.direction === 'ascending' ? 'descending' : 'ascending';
    this.order = { key, direction };
    for (const [index, column] of this.columns.entries()) {
      const cell = this.head.cells[index];
      if (column.sort === key) cell.setAttribute('aria-sort', direction);
      else cell.removeAttribute('aria-sort');
    }
    const focused = this.focusedSong();
    this.songs = this.sorted(this.songs);
    if (focused) this.row = this.songs.indexOf(focused);
    this.draw();
    this.onSort(key, direction);
  }

  // The rows in view, between two spacers that keep the scroll height of the whole list.
  draw() {
    const count = this.songs.length;
    const height = this.rowHeight || 32;
    const first = Math.max(0, Math.floor((this.box.scrollTop - this.bodyTop()) / height) - 5);
    const shown = Math.ceil((this.box.clientHeight || 400) / height) + 10;
    const last = Math.min(count, first + shown);
    const rows = [];
    rows.push(this.spacer(first * height));
    for (let index = first; index < last; index++) rows.push(this.drawRow(index));
    rows.push(this.spacer((count - last) * height));
    this.body.replaceChildren(...rows);
    if (!this.rowHeight && last > first) {
      this.rowHeight = rows[1].getBoundingClientRect().height || 32;
      if (Math.abs(this.rowHeight - height) > 0.5) this.draw();
      return;
    }
    this.mark();
  }

  spacer(height) {
    const row = document.createElement('tr');
    row.setAttribute('role', 'presentation');
    row.className = 'spacer';
    const cell = document.createElement('td');
    cell.colSpan = this.columns.length;
    cell.style.height = `${height}px`;
    row.append(cell);
    return row;
  }

  drawRow(index) {
    const song = this.songs[index];
    const row = document.createElement('tr');
    row.dataset.index = String(index);
    row.setAttribute('aria-rowindex', String(index + 2));
    for (const [column, { cell }] of this.columns.entries()) {
      const element = document.createElement(column === 0 ? 'th' : 'td');
      if (column === 0) element.scope = 'row';
      element.id = `${this.prefix}-r${song.number}-c${column}`;
      element.append(cell(song));
      row.append(element);
    }
    return row;
  }

  cellId(row, column) {
    return row < 0 ? `${this.prefix}-h${column}` : `${this.prefix}-r${this.songs[row].number}-c${column}`;
  }

  // Shows which cell has the focus, and tells assistive technology.
  mark() {
    for (const old of this.table.querySelectorAll('.active')) old.classList.remove('active');
    for (const old of this.table.querySelectorAll('[aria-selected]')) old.removeAttribute('aria-selected');
    if (this.songs.length === 0 && this.row >= 0) {
      this.table.removeAttribute('aria-activedescendant');
      return;
    }
    const cell = document.getElementById(this.cellId(this.row, this.column));
    if (!cell) return;
    cell.classList.add('active');
    if (this.row >= 0) cell.parentElement.setAttribute('aria-selected', 'true');
    this.table.setAttribute('aria-activedescendant', cell.id);
  }

  // Moves the focus to a cell, scrolls it into view; act: as if Enter was pressed there.
  focusCell(row, column, act = false) {
    const rows = this.songs.length;
    const before = this.focusedSong();
    this.row = Math.max(-1, Math.min(rows - 1, row));
    this.column = Math.max(0, Math.min(this.columns.length - 1, column));
    if (document.activeElement !== this.table) this.table.focus({ preventScroll: true });
    this.scrollTo(this.row);
    this.draw();
    const cell = document.getElementById(this.cellId(this.row, this.column));
    if (cell && this.column > 0) {
      const sticky = this.head.cells[0].offsetWidth;
      if (cell.offsetLeft - sticky < this.box.scrollLeft) this.box.scrollLeft = cell.offsetLeft - sticky;
      const right = cell.offsetLeft + cell.offsetWidth - this.box.clientWidth;
      if (right > this.box.scrollLeft) this.box.scrollLeft = right;
    } else if (cell) {
      this.box.scrollLeft = 0;
    }
    const song = this.focusedSong();
    if (song !== before) this.onMove(song);
    if (act) this.act();
  }

  // Where the rows start in the box's scrolled content: below the caption and the header.
  bodyTop() {
    return this.table.offsetTop + this.body.offsetTop;
  }

  // Scrolls the box so that the row shows below the header, which stays at the top.
  scrollTo(row) {
    if (row < 0) return;
    const height = this.rowHeight || 32;
    const top = this.bodyTop() + row * height;
    const headHeight = this.head.offsetHeight;
    if (top - headHeight < this.box.scrollTop) this.box.scrollTop = top - headHeight;
    else if (top + height > this.box.scrollTop + this.box.clientHeight) this.box.scrollTop = top + height - this.box.clientHeight;
  }

  act() {
    const column = this.columns[this.column];
    if (this.row < 0) {
      if (column.sort) this.sortBy(column.sort);
      return;
    }
    this.onEnter(this.focusedSong(), column);
  }

  key(event) {
    if (event.altKey || event.metaKey) return;
    if (!/^[0-9]$/.test(event.key)) this.typed = '';
    const { row, column } = this;
    const last = this.songs.length - 1;
    const moves = {
      ArrowDown: [row + 1, column],
      ArrowUp: [row - 1, column],
      PageDown: [Math.max(row, 0) + pageRows, column],
      PageUp: [Math.max(row - pageRows, 0), column],
      ArrowRight: [row, column + 1],
      ArrowLeft: [row, column - 1],
      Home: event.ctrlKey ? [0, column] : [row, 0],
      End: event.ctrlKey ? [last, column] : [row, this.columns.length - 1],
    };
    if (event.ctrlKey && !['Home', 'End'].includes(event.key)) return;
    if (Object.hasOwn(moves, event.key)) {
      event.preventDefault();
      this.focusCell(...moves[event.key]);
      return;
    }
    if (event.key === 'Enter' || event.key === ' ') {
      event.preventDefault();
      this.act();
      return;
    }
    // Digits typed in a row jump to the song of that number.
    if (/^[0-9]$/.test(event.key)) {
      event.preventDefault();
      const now = performance.now();
      this.typed = now - this.typedAt < 1000 ? this.typed + event.key : event.key;
      this.typedAt = now;
      const at = this.songs.findIndex((song) => song.number === Number(this.typed));
      if (at >= 0) this.focusCell(at, this.column);
    }
  }
}
