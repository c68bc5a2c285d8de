# Writes the page into SITE: every file but index.html named after a hash of its contents, the
# programs' names written into tool.js, each page module's imports written as the hashed names of
# the modules it imports, and page.js's and style.css's names into index.html, so one build's
# files only ever load each other. The same inputs always give the same folder.
#   cmake -DPROGRAMS="target;factory;..." -DMODULES="state.js;...;page.js" -DSTAGE=<linked modules>
#         -DSOURCE=web -DSITE=<out> -P site.cmake
# MODULES lists the page's modules so that each comes after every module it imports.
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

set(build "{\n  \"worker\": \"${worker}\",\n  \"programs\": [\n    ${rows}\n  ]\n}")
set(written)
foreach(module IN LISTS MODULES)
  file(READ ${SOURCE}/${module} text)
  string(REPLACE "__SONVAULT_BUILD__" "${build}" text "${text}")
  foreach(done IN LISTS written)
    string(REPLACE "|" ";" done "${done}")
    list(GET done 0 plain)
    list(GET done 1 hashed)
    string(REPLACE "'./${plain}'" "'./${hashed}'" text "${text}")
  endforeach()
  # An import left by its plain name names a module listed later, or none at all.
  string(REGEX MATCH "from '\\./[a-z_]+\\.js'" left "${text}")
  if(left)
    message(FATAL_ERROR "${module}: ${left} is not written yet; list it earlier in MODULES")
  endif()
  string(REGEX REPLACE "\\.js$" "" stem ${module})
  hashed_name(${stem} js "${text}" name)
  file(WRITE ${SITE}/${name} "${text}")
  list(APPEND written "${module}|${name}")
  if(module STREQUAL "page.js")
    set(page_name ${name})
  endif()
endforeach()
copy_hashed(${SOURCE}/style.css style css style)
copy_hashed(${SOURCE}/boot.js boot js boot)

file(READ ${SOURCE}/index.html html)
string(REPLACE "\"page.js\"" "\"${page_name}\"" html "${html}")
string(REPLACE "\"style.css\"" "\"${style}\"" html "${html}")
string(REPLACE "\"boot.js\"" "\"${boot}\"" html "${html}")
file(WRITE ${SITE}/index.html "${html}")
