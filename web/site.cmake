# Writes the page into SITE: every file but index.html named after a hash of its contents, the
# modules' names written into page.js and page.js's and style.css's into index.html, so one
# build's files only ever load each other. The same inputs always give the same folder.
#   cmake -DPROGRAMS="target;factory;..." -DSTAGE=<linked modules> -DSOURCE=web -DSITE=<out> -P site.cmake
cmake_minimum_required(VERSION 3.20)

file(REMOVE_RECURSE ${SITE})
file(MAKE_DIRECTORY ${SITE})

# The name content gets as <stem>.<hash>.<extension>.
function(hashed_name stem extension content out_var)
  string(SHA256 hash "${content}")
  string(SUBSTRING ${hash} 0 16 hash)
  set(${out_var} ${stem}.${hash}.${extension} PARENT_SCOPE)
endfunction()

# Copies file under its hashed name; sets out_var to that name.
function(copy_hashed file stem extension out_var)
  file(SHA256 ${file} hash)
  string(SUBSTRING ${hash} 0 16 hash)
  set(name ${stem}.${hash}.${extension})
  configure_file(${file} ${SITE}/${name} COPYONLY)
  set(${out_var} ${name} PARENT_SCOPE)
endfunction()

set(rows)
list(LENGTH PROGRAMS count)
math(EXPR last "${count} - 1")
foreach(index RANGE 0 ${last} 2)
  math(EXPR next "${index} + 1")
  list(GET PROGRAMS ${index} program)
  list(GET PROGRAMS ${next} factory)
  copy_hashed(${STAGE}/${program}.js ${program} js script)
  copy_hashed(${STAGE}/${program}.wasm ${program} wasm wasm)
  list(APPEND rows
       "{\"name\": \"${program}\", \"factory\": \"${factory}\", \"script\": \"${script}\", \"wasm\": \"${wasm}\"}")
endforeach()
list(JOIN rows ",\n    " rows)
copy_hashed(${SOURCE}/worker.js worker js worker)

file(READ ${SOURCE}/page.js page)
string(REPLACE "__SONVAULT_BUILD__"
       "{\n  \"worker\": \"${worker}\",\n  \"programs\": [\n    ${rows}\n  ]\n}" page "${page}")
hashed_name(page js "${page}" page_name)
file(WRITE ${SITE}/${page_name} "${page}")
copy_hashed(${SOURCE}/style.css style css style)

file(READ ${SOURCE}/index.html html)
string(REPLACE "\"page.js\"" "\"${page_name}\"" html "${html}")
string(REPLACE "\"style.css\"" "\"${style}\"" html "${html}")
file(WRITE ${SITE}/index.html "${html}")
