-- Jet's functions on a PostgreSQL server, in schema jet: for each function
-- that translated SQL calls, jet.<name> with Jet's semantics, as the engine's
-- SQLite functions have them, so that an expression gives the same value on
-- both back ends.  Dates are the server's timestamps; a number where a date is
-- expected is a Jet day number, text is read as Jet reads dates.  Yes/No is
-- boolean and counts as -1/0.
--
-- Run as one script: libpq runs a multi-statement text in one transaction, or
-- in the caller's.  Running it again replaces every function in place (views
-- that call them stay), so it is also how a database gets a newer version.
--
-- Errors carry Jet's message and an SQLSTATE of class 22 (data exception).
-- jet.now() reads the setting jet.now when a session fixes its clock.

-- Without the notice that CREATE SCHEMA IF NOT EXISTS would send on each later run.
DO $$
BEGIN
  IF NOT EXISTS (SELECT FROM pg_namespace WHERE nspname = 'jet') THEN
    CREATE SCHEMA jet;
  END IF;
END
$$;

-- --- conversions -----------------------------------------------------------

-- Day numbers count whole days from 1899-12-30; before it the integer part
-- counts backwards while the fraction still counts forward from midnight.
CREATE OR REPLACE FUNCTION jet.to_daynumber(t timestamp) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN t >= timestamp '1899-12-30'
    THEN extract(epoch FROM t - timestamp '1899-12-30')::double precision / 86400
    ELSE (t::date - date '1899-12-30') - extract(epoch FROM t::time)::double precision / 86400 END
$$;

CREATE OR REPLACE FUNCTION jet.from_daynumber(d double precision) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  whole bigint;
  ms bigint;
BEGIN
  IF d = 'Infinity' OR d = '-Infinity' OR d = 'NaN' OR abs(d) > 3e6 THEN
    RAISE EXCEPTION 'Invalid date' USING ERRCODE = '22008';
  END IF;
  whole := trunc(d);
  ms := floor(abs(d - whole) * 86400000 + 0.5);
  IF ms >= 86400000 THEN
    ms := ms - 86400000;
    whole := whole + CASE WHEN d >= 0 THEN 1 ELSE -1 END;
  END IF;
  RETURN (date '1899-12-30' + whole::integer) + ms * interval '1 millisecond';
END
$$;

-- Whole numbers print without a fraction, others with up to 15 significant
-- digits, exponents as 1E+20.
CREATE OR REPLACE FUNCTION jet.number_text(v double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  sci text;
  digits text;
  e integer;
  whole text;
  fraction text;
BEGIN
  IF v = trunc(v) AND abs(v) < 1e15 THEN
    RETURN trunc(v)::bigint::text;
  END IF;
  IF v = 'NaN' OR v = 'Infinity' OR v = '-Infinity' THEN
    RETURN lower(v::text);
  END IF;
  sci := btrim(to_char(abs(v), '9.99999999999999EEEE'));
  digits := replace(split_part(sci, 'e', 1), '.', '');
  e := split_part(sci, 'e', 2)::integer;
  IF e < -4 OR e >= 15 THEN
    fraction := rtrim(substr(digits, 2), '0');
    RETURN CASE WHEN v < 0 THEN '-' ELSE '' END || substr(digits, 1, 1)
      || CASE WHEN fraction <> '' THEN '.' || fraction ELSE '' END
      || 'E' || CASE WHEN e < 0 THEN '-' ELSE '+' END || lpad(abs(e)::text, 2, '0');
  END IF;
  IF e >= 0 THEN
    whole := substr(digits, 1, e + 1);
    fraction := rtrim(substr(digits, e + 2), '0');
  ELSE
    whole := '0';
    fraction := rtrim(repeat('0', -e - 1) || digits, '0');
  END IF;
  RETURN CASE WHEN v < 0 THEN '-' ELSE '' END || whole
    || CASE WHEN fraction <> '' THEN '.' || fraction ELSE '' END;
END
$$;

-- Text that reads as a number, blanks around it allowed; Null otherwise.
CREATE OR REPLACE FUNCTION jet.number_from_text(s text) RETURNS double precision
LANGUAGE sql IMMUTABLE STRICT PARALLEL SAFE AS $$
  SELECT CASE WHEN t ~ '^[+-]?([0-9]+\.?[0-9]*|\.[0-9]+)([eE][+-]?[0-9]+)?$' THEN t::double precision END
  FROM (SELECT btrim(s, E' \t\n\r\f\v\u00a0\u3000') AS t) AS trimmed
$$;

-- The date forms Jet reads: year/month/day (1985/1/1, 1985-01-01, 1985.1.1)
-- or month/day/year (4/1/2003), each optionally with h:mm[:ss]; Null for
-- anything else and for impossible dates.
CREATE OR REPLACE FUNCTION jet.parse_date(s text) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  w constant text := '[ \t\n\r\f\v]';
  t constant text := '(?:' || w || '+([0-9]{1,2}):([0-9]{2})(?::([0-9]{2}))?)?' || w || '*$';
  m text[];
  y integer;
  mo integer;
  d integer;
  h integer := 0;
  mi integer := 0;
  se integer := 0;
BEGIN
  m := regexp_match(s, '^' || w || '*([0-9]{4})' || w || '*[/.-]' || w || '*([0-9]{1,2})' || w || '*[/.-]'
                       || w || '*([0-9]{1,2})' || t);
  IF m IS NOT NULL THEN
    y := m[1]; mo := m[2]; d := m[3];
  ELSE
    m := regexp_match(s, '^' || w || '*([0-9]{1,2})' || w || '*[/-]' || w || '*([0-9]{1,2})' || w || '*[/-]'
                         || w || '*([0-9]{4})' || t);
    IF m IS NULL THEN
      RETURN NULL;
    END IF;
    mo := m[1]; d := m[2]; y := m[3];
  END IF;
  IF y < 100 OR mo NOT BETWEEN 1 AND 12 OR d < 1
     OR d > extract(day FROM make_date(y, mo, 1) + interval '1 month - 1 day') THEN
    RETURN NULL;
  END IF;
  IF m[4] IS NOT NULL THEN
    h := m[4]; mi := m[5]; se := coalesce(m[6], '0');
    IF h > 23 OR mi > 59 OR se > 59 THEN
      RETURN NULL;
    END IF;
  END IF;
  RETURN make_timestamp(y, mo, d, h, mi, se);
END
$$;

-- A value where Jet expects a date.
CREATE OR REPLACE FUNCTION jet.as_date(t timestamp) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT t $$;

CREATE OR REPLACE FUNCTION jet.as_date(d double precision) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.from_daynumber(d) $$;

CREATE OR REPLACE FUNCTION jet.as_date(s text) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  t timestamp := jet.parse_date(s);
  n double precision;
BEGIN
  IF t IS NOT NULL THEN
    RETURN t;
  END IF;
  n := jet.number_from_text(s);
  IF n IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch' USING ERRCODE = '22018';
  END IF;
  RETURN jet.from_daynumber(n);
END
$$;

-- A value where Jet expects a number: numeric text counts, other text is a
-- type mismatch; a date is its day number, Yes/No is -1/0.
CREATE OR REPLACE FUNCTION jet.as_number(v double precision) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT v $$;

CREATE OR REPLACE FUNCTION jet.as_number(b boolean) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT CASE WHEN b THEN -1 WHEN NOT b THEN 0 END::double precision $$;

CREATE OR REPLACE FUNCTION jet.as_number(t timestamp) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.to_daynumber(t) $$;

CREATE OR REPLACE FUNCTION jet.as_number(s text) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  n double precision := jet.number_from_text(s);
BEGIN
  IF n IS NULL THEN
    RAISE EXCEPTION 'Data type mismatch' USING ERRCODE = '22018';
  END IF;
  RETURN n;
END
$$;

-- A value as Jet prints it in text.  A date prints as a Japanese system shows
-- it: 2003/04/01, 2003/04/01 9:05:00, or the time alone on day 0.
CREATE OR REPLACE FUNCTION jet.as_text(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT s $$;

CREATE OR REPLACE FUNCTION jet.as_text(v integer) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT v::text $$;

CREATE OR REPLACE FUNCTION jet.as_text(v bigint) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT v::text $$;

CREATE OR REPLACE FUNCTION jet.as_text(v double precision) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.number_text(v) $$;

CREATE OR REPLACE FUNCTION jet.as_text(b boolean) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT CASE WHEN b THEN '-1' WHEN NOT b THEN '0' END $$;

CREATE OR REPLACE FUNCTION jet.as_text(t timestamp) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT coalesce(d || ' ' || h, d, h)
  FROM (SELECT
      CASE WHEN t::date <> date '1899-12-30' OR t::time = time '00:00' THEN
        lpad(extract(year FROM t)::integer::text, 4, '0') || '/' || lpad(extract(month FROM t)::integer::text, 2, '0')
        || '/' || lpad(extract(day FROM t)::integer::text, 2, '0') END AS d,
      CASE WHEN t::time <> time '00:00' THEN
        extract(hour FROM t)::integer::text || ':' || lpad(extract(minute FROM t)::integer::text, 2, '0')
        || ':' || lpad(floor(extract(second FROM t))::integer::text, 2, '0') END AS h) AS parts
$$;

-- Jet rounds a whole-number argument (a count, a place) half away from zero.
CREATE OR REPLACE FUNCTION jet.whole_argument(v double precision) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
BEGIN
  IF v = 'NaN' OR abs(v) > 9e15 THEN
    RAISE EXCEPTION 'Overflow' USING ERRCODE = '22003';
  END IF;
  RETURN sign(v) * floor(abs(v) + 0.5);
END
$$;

-- Halves go to the even neighbour, as Jet's Round and its integer
-- conversions do.  The value is taken with 15 significant digits, which drops
-- the binary noise of a scaling, so 0.125 * 100 stays the tie 12.5.
CREATE OR REPLACE FUNCTION jet.round_half_even(v double precision) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  n numeric;
  f numeric;
BEGIN
  IF v = 'NaN' OR v = 'Infinity' OR v = '-Infinity' THEN
    RETURN v;
  END IF;
  n := v::numeric;
  f := floor(n);
  IF n - f > 0.5 OR (n - f = 0.5 AND mod(f, 2) <> 0) THEN
    f := f + 1;
  END IF;
  RETURN f::double precision;
END
$$;

-- --- dates -----------------------------------------------------------------

-- Lists compute ages and stays for every row: the usual form is an SQL
-- expression that the planner inlines and reduces to the one interval a
-- statement names; this checked form answers an unknown interval.
CREATE OR REPLACE FUNCTION jet.datediff_checked(i text, a timestamp, b timestamp) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  da constant integer := a::date - date '1899-12-30';
  db constant integer := b::date - date '1899-12-30';
BEGIN
  CASE lower(i)
  WHEN 'yyyy' THEN
    RETURN extract(year FROM b) - extract(year FROM a);
  WHEN 'q' THEN
    RETURN (extract(year FROM b) * 4 + div(extract(month FROM b)::integer - 1, 3))
         - (extract(year FROM a) * 4 + div(extract(month FROM a)::integer - 1, 3));
  WHEN 'm' THEN
    RETURN (extract(year FROM b) * 12 + extract(month FROM b)) - (extract(year FROM a) * 12 + extract(month FROM a));
  WHEN 'd', 'y' THEN
    RETURN db - da;
  WHEN 'w' THEN
    RETURN (db - da) / 7;
  WHEN 'ww' THEN
    -- Day 0 is a Saturday; weeks begin on Sunday.
    RETURN floor((db + 6) / 7.0) - floor((da + 6) / 7.0);
  WHEN 'h' THEN
    RETURN floor(extract(epoch FROM b) / 3600) - floor(extract(epoch FROM a) / 3600);
  WHEN 'n' THEN
    RETURN floor(extract(epoch FROM b) / 60) - floor(extract(epoch FROM a) / 60);
  WHEN 's' THEN
    RETURN floor(extract(epoch FROM b)) - floor(extract(epoch FROM a));
  ELSE
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END CASE;
END
$$;

CREATE OR REPLACE FUNCTION jet.datediff(i text, a timestamp, b timestamp) RETURNS bigint
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE lower(i)
    WHEN 'yyyy' THEN (extract(year FROM b) - extract(year FROM a))::bigint
    WHEN 'd' THEN (b::date - a::date)::bigint
    WHEN 'y' THEN (b::date - a::date)::bigint
    WHEN 'm' THEN ((extract(year FROM b) * 12 + extract(month FROM b)) - (extract(year FROM a) * 12 + extract(month FROM a)))::bigint
    ELSE jet.datediff_checked(i, a, b) END
$$;

CREATE OR REPLACE FUNCTION jet.dateadd(i text, count double precision, t timestamp) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  unit constant text := lower(i);
  n double precision;
  months bigint;
  ms double precision;
  result timestamp;
BEGIN
  IF unit NOT IN ('yyyy', 'q', 'm', 'd', 'y', 'w', 'ww', 'h', 'n', 's') THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  IF abs(t::date - date '1899-12-30') > 3000000 THEN
    RAISE EXCEPTION 'Invalid date' USING ERRCODE = '22008';
  END IF;
  n := trunc(count);
  -- Beyond this no count lands on a date Jet can hold.
  IF abs(n) > 1e8 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  IF unit IN ('yyyy', 'q', 'm') THEN
    months := n::bigint * CASE unit WHEN 'yyyy' THEN 12 WHEN 'q' THEN 3 ELSE 1 END;
    IF div(extract(year FROM t)::bigint * 12 + extract(month FROM t)::bigint - 1 + months, 12) NOT BETWEEN 100 AND 9999 THEN
      RAISE EXCEPTION 'Invalid date' USING ERRCODE = '22008';
    END IF;
    result := t + make_interval(months => months::integer);
  ELSE
    ms := n * CASE unit WHEN 'h' THEN 3600000 WHEN 'n' THEN 60000 WHEN 's' THEN 1000
                        WHEN 'ww' THEN 604800000 ELSE 86400000 END;
    -- Jet's dates run from the year 100 to 9999.
    ms := extract(epoch FROM t - timestamp '1899-12-30') * 1000 + ms;
    IF ms < -56802297600000 OR ms >= 255611462400000 THEN
      RAISE EXCEPTION 'Invalid date' USING ERRCODE = '22008';
    END IF;
    result := timestamp '1899-12-30' + ms * interval '1 millisecond';
  END IF;
  RETURN result;
END
$$;

CREATE OR REPLACE FUNCTION jet.now() RETURNS timestamp
LANGUAGE sql STABLE PARALLEL SAFE AS $$
  SELECT coalesce(nullif(current_setting('jet.now', true), '')::timestamp,
                  date_trunc('milliseconds', statement_timestamp()::timestamp))
$$;

CREATE OR REPLACE FUNCTION jet.date() RETURNS timestamp
LANGUAGE sql STABLE PARALLEL SAFE AS $$ SELECT jet.now()::date::timestamp $$;

-- The end of a span that begins at a and ends at b, or never while b is
-- empty; no end at all when it has not begun.  The translation of "begun by
-- the day, and ended on or after it or not yet" compares this with the day,
-- so that an index on it tells the planner how few spans hold the day.  Not
-- STRICT: the planner inlines it, also into the index's expression.
CREATE OR REPLACE FUNCTION jet.until(a timestamp, b timestamp) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN a IS NULL THEN NULL ELSE coalesce(b, 'infinity'::timestamp) END
$$;

CREATE OR REPLACE FUNCTION jet.year(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT extract(year FROM t)::integer $$;
CREATE OR REPLACE FUNCTION jet.month(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT extract(month FROM t)::integer $$;
CREATE OR REPLACE FUNCTION jet.day(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT extract(day FROM t)::integer $$;
CREATE OR REPLACE FUNCTION jet.hour(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT extract(hour FROM t)::integer $$;
CREATE OR REPLACE FUNCTION jet.minute(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT extract(minute FROM t)::integer $$;
CREATE OR REPLACE FUNCTION jet.second(t timestamp) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT floor(extract(second FROM t))::integer $$;

CREATE OR REPLACE FUNCTION jet.cdate(t timestamp) RETURNS timestamp
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
BEGIN
  IF t IS NULL THEN
    RAISE EXCEPTION 'Invalid use of Null' USING ERRCODE = '22004';
  END IF;
  RETURN t;
END
$$;

-- --- text ------------------------------------------------------------------

-- Null & Null stays Null; with one Null the other operand stands alone.
CREATE OR REPLACE FUNCTION jet.concat(a text, b text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN a IS NOT NULL OR b IS NOT NULL THEN coalesce(a, '') || coalesce(b, '') END
$$;

-- Texts are cut by characters.  The statistics cut codes of every episode,
-- so each function is an SQL expression the planner inlines; its checked form
-- runs only where an argument is out of range, to raise Jet's error.  That
-- form takes the text too and is strict, so that a Null text stays Null.
CREATE OR REPLACE FUNCTION jet.mid_checked(s text, start double precision, length double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  first constant bigint := jet.whole_argument(start);
  n constant bigint := jet.whole_argument(length);
BEGIN
  IF first < 1 OR n < 0 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN substr(s, least(first, 2147483647)::integer, least(n, 2147483647)::integer);
END
$$;

CREATE OR REPLACE FUNCTION jet.mid_checked(s text, start double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  first constant bigint := jet.whole_argument(start);
BEGIN
  IF first < 1 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN substr(s, least(first, 2147483647)::integer);
END
$$;

CREATE OR REPLACE FUNCTION jet.left_checked(s text, length double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  n constant bigint := jet.whole_argument(length);
BEGIN
  IF n < 0 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN left(s, least(n, 2147483647)::integer);
END
$$;

CREATE OR REPLACE FUNCTION jet.right_checked(s text, length double precision) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  n constant bigint := jet.whole_argument(length);
BEGIN
  IF n < 0 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN right(s, least(n, 2147483647)::integer);
END
$$;

CREATE OR REPLACE FUNCTION jet.mid(s text, start double precision, length double precision) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN abs(start) <= 2147483647 AND abs(length) <= 2147483647
                   AND sign(start) * floor(abs(start) + 0.5) >= 1 AND sign(length) * floor(abs(length) + 0.5) >= 0
    THEN substr(s, (sign(start) * floor(abs(start) + 0.5))::integer, (sign(length) * floor(abs(length) + 0.5))::integer)
    ELSE jet.mid_checked(s, start, length) END
$$;

CREATE OR REPLACE FUNCTION jet.mid(s text, start double precision) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN abs(start) <= 2147483647 AND sign(start) * floor(abs(start) + 0.5) >= 1
    THEN substr(s, (sign(start) * floor(abs(start) + 0.5))::integer)
    ELSE jet.mid_checked(s, start) END
$$;

CREATE OR REPLACE FUNCTION jet.left(s text, length double precision) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN abs(length) <= 2147483647 AND sign(length) * floor(abs(length) + 0.5) >= 0
    THEN left(s, (sign(length) * floor(abs(length) + 0.5))::integer)
    ELSE jet.left_checked(s, length) END
$$;

CREATE OR REPLACE FUNCTION jet.right(s text, length double precision) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN abs(length) <= 2147483647 AND sign(length) * floor(abs(length) + 0.5) >= 0
    THEN right(s, (sign(length) * floor(abs(length) + 0.5))::integer)
    ELSE jet.right_checked(s, length) END
$$;

CREATE OR REPLACE FUNCTION jet.len(s text) RETURNS bigint
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT char_length(s)::bigint $$;

-- A Japanese system's Trim also removes the full-width blank.
CREATE OR REPLACE FUNCTION jet.trim(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT btrim(s, E' \u3000') $$;
CREATE OR REPLACE FUNCTION jet.ltrim(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT ltrim(s, E' \u3000') $$;
CREATE OR REPLACE FUNCTION jet.rtrim(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT rtrim(s, E' \u3000') $$;

-- Case follows Unicode whatever the database's locale (full-width letters
-- too).  ASCII text, most codes and kana-free names, takes the quick way.
CREATE OR REPLACE FUNCTION jet.upper_ascii(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT upper(s COLLATE "C") $$;
CREATE OR REPLACE FUNCTION jet.upper_unicode(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT upper(s COLLATE "und-x-icu") $$;
CREATE OR REPLACE FUNCTION jet.lower_ascii(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT lower(s COLLATE "C") $$;
CREATE OR REPLACE FUNCTION jet.lower_unicode(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT lower(s COLLATE "und-x-icu") $$;

CREATE OR REPLACE FUNCTION jet.ucase(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN octet_length(s) = char_length(s) THEN jet.upper_ascii(s) ELSE jet.upper_unicode(s) END
$$;
CREATE OR REPLACE FUNCTION jet.lcase(s text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT CASE WHEN octet_length(s) = char_length(s) THEN jet.lower_ascii(s) ELSE jet.lower_unicode(s) END
$$;

-- Jet's Like as a regular expression over case-folded text: * any run, ?
-- one character, # one digit, [list], [!list] and ranges [a-z].  Kept apart
-- so that a constant pattern is translated once per statement.
CREATE OR REPLACE FUNCTION jet.like_pattern(p text) RETURNS text
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  chars constant text[] := regexp_split_to_array(jet.lcase(p), '');
  n constant integer := coalesce(array_length(chars, 1), 0);
  re text := '^';
  k integer := 1;
  q integer;
  items text;
  c text;
BEGIN
  WHILE k <= n LOOP
    c := chars[k];
    IF c = '*' THEN
      re := re || '.*';
    ELSIF c = '?' THEN
      re := re || '.';
    ELSIF c = '#' THEN
      re := re || '[0-9]';
    ELSIF c = '[' THEN
      q := k + 1;
      items := '';
      IF q <= n AND chars[q] = '!' THEN
        items := '^';
        q := q + 1;
      END IF;
      WHILE q <= n AND chars[q] <> ']' LOOP
        IF q + 2 <= n AND chars[q + 1] = '-' AND chars[q + 2] <> ']' THEN
          IF ascii(chars[q]) <= ascii(chars[q + 2]) THEN
            items := items || '\U' || lpad(to_hex(ascii(chars[q])), 8, '0')
                           || '-\U' || lpad(to_hex(ascii(chars[q + 2])), 8, '0');
          END IF;
          q := q + 3;
        ELSE
          items := items || '\U' || lpad(to_hex(ascii(chars[q])), 8, '0');
          q := q + 1;
        END IF;
      END LOOP;
      IF q > n THEN
        RAISE EXCEPTION 'Invalid pattern string' USING ERRCODE = '2201B';
      END IF;
      -- An empty list matches no character, its negation any.
      re := re || CASE items WHEN '' THEN '(?!)' WHEN '^' THEN '.' ELSE '[' || items || ']' END;
      k := q;
    ELSE
      re := re || '\U' || lpad(to_hex(ascii(c)), 8, '0');
    END IF;
    k := k + 1;
  END LOOP;
  RETURN re || '$';
END
$$;

CREATE OR REPLACE FUNCTION jet.like(s text, pattern text) RETURNS boolean
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$
  SELECT jet.lcase(s) ~ jet.like_pattern(pattern)
$$;

-- --- numbers ---------------------------------------------------------------

CREATE OR REPLACE FUNCTION jet.round(v double precision, places double precision) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p constant bigint := jet.whole_argument(places);
BEGIN
  IF p < 0 OR p > 15 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN jet.round_half_even(v * 10::double precision ^ p) / 10::double precision ^ p;
END
$$;

CREATE OR REPLACE FUNCTION jet.round(v double precision) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.round_half_even(v) $$;

-- Whole numbers stay as they are.
CREATE OR REPLACE FUNCTION jet.round(v bigint, places double precision) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  p constant bigint := jet.whole_argument(places);
BEGIN
  IF p < 0 OR p > 15 THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  RETURN v;
END
$$;

CREATE OR REPLACE FUNCTION jet.round(v integer, places double precision) RETURNS bigint
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.round(v::bigint, places) $$;

CREATE OR REPLACE FUNCTION jet.int(v double precision) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT floor(v) $$;
CREATE OR REPLACE FUNCTION jet.fix(v double precision) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT trunc(v) $$;

DO $do$
DECLARE
  f text;
  t text;
BEGIN
  FOREACH f IN ARRAY ARRAY['round', 'int', 'fix'] LOOP
    FOREACH t IN ARRAY ARRAY['integer', 'bigint'] LOOP
      EXECUTE format('CREATE OR REPLACE FUNCTION jet.%I(v %s) RETURNS bigint LANGUAGE sql IMMUTABLE PARALLEL SAFE'
                     ' AS $f$ SELECT v::bigint $f$', f, t);
    END LOOP;
  END LOOP;
END
$do$;

-- Val skips blanks anywhere and reads the longest number at the start.
CREATE OR REPLACE FUNCTION jet.val(s text) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
DECLARE
  m text;
BEGIN
  IF s IS NULL THEN
    RAISE EXCEPTION 'Invalid use of Null' USING ERRCODE = '22004';
  END IF;
  m := substring(translate(s, E' \t\r\n', '') FROM '^[+-]?(?:[0-9]+\.?[0-9]*|\.[0-9]+)(?:[eE][+-]?[0-9]+)?');
  RETURN coalesce(m::double precision, 0);
END
$$;

CREATE OR REPLACE FUNCTION jet.cstr(s text) RETURNS text
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
BEGIN
  IF s IS NULL THEN
    RAISE EXCEPTION 'Invalid use of Null' USING ERRCODE = '22004';
  END IF;
  RETURN s;
END
$$;

CREATE OR REPLACE FUNCTION jet.clng(v double precision) RETURNS integer
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
DECLARE
  r double precision;
BEGIN
  IF v IS NULL THEN
    RAISE EXCEPTION 'Invalid use of Null' USING ERRCODE = '22004';
  END IF;
  r := jet.round_half_even(v);
  IF r = 'NaN' OR r > 2147483647 OR r < -2147483648 THEN
    RAISE EXCEPTION 'Overflow' USING ERRCODE = '22003';
  END IF;
  RETURN r::integer;
END
$$;

CREATE OR REPLACE FUNCTION jet.cdbl(v double precision) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE PARALLEL SAFE AS $$
BEGIN
  IF v IS NULL THEN
    RAISE EXCEPTION 'Invalid use of Null' USING ERRCODE = '22004';
  END IF;
  RETURN v;
END
$$;

-- \ and Mod round both operands to whole numbers first.
CREATE OR REPLACE FUNCTION jet.idiv(a double precision, b double precision) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  x constant double precision := jet.round_half_even(a);
  y constant double precision := jet.round_half_even(b);
BEGIN
  IF y = 0 THEN
    RAISE EXCEPTION 'Division by zero' USING ERRCODE = '22012';
  END IF;
  IF x = 'NaN' OR y = 'NaN' OR abs(x) > 9e15 OR abs(y) > 9e15 THEN
    RAISE EXCEPTION 'Overflow' USING ERRCODE = '22003';
  END IF;
  RETURN x::bigint / y::bigint;
END
$$;

CREATE OR REPLACE FUNCTION jet.mod(a double precision, b double precision) RETURNS bigint
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
DECLARE
  x constant double precision := jet.round_half_even(a);
  y constant double precision := jet.round_half_even(b);
BEGIN
  IF y = 0 THEN
    RAISE EXCEPTION 'Division by zero' USING ERRCODE = '22012';
  END IF;
  IF x = 'NaN' OR y = 'NaN' OR abs(x) > 9e15 OR abs(y) > 9e15 THEN
    RAISE EXCEPTION 'Overflow' USING ERRCODE = '22003';
  END IF;
  RETURN x::bigint % y::bigint;
END
$$;

-- A result that is no finite real number is an invalid call, as in Jet.
CREATE OR REPLACE FUNCTION jet.pow(a double precision, b double precision) RETURNS double precision
LANGUAGE plpgsql IMMUTABLE STRICT PARALLEL SAFE AS $$
BEGIN
  IF (a < 0 AND b <> trunc(b)) OR (a = 0 AND b < 0) THEN
    RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
  END IF;
  IF a <> 0 THEN
    IF b * ln(abs(a)) < -745.2 THEN
      RETURN 0;
    END IF;
  END IF;
  RETURN power(a, b);
EXCEPTION WHEN numeric_value_out_of_range OR invalid_argument_for_power_function THEN
  RAISE EXCEPTION 'Invalid procedure call or argument' USING ERRCODE = '22023';
END
$$;

-- --- other argument types --------------------------------------------------

-- Each function above takes its arguments in one type per role; these
-- overloads take the other types a Jet column or literal has on the server
-- and convert them as Jet does.  Text is among them, so that an untyped Null
-- finds one function.  Roles: T text-like, N number, D date, P a count or
-- place, I an interval name.
-- It lives in jet only while this script runs, since a database may deny
-- its users temporary objects.
CREATE OR REPLACE FUNCTION jet.define_overloads(name text, result text, roles text)
RETURNS void LANGUAGE plpgsql AS $gen$
DECLARE
  kinds jsonb := jsonb_build_object(
    'T', jsonb_build_array('text', 'integer', 'bigint', 'double precision', 'boolean', 'timestamp'),
    'N', jsonb_build_array('double precision', 'text', 'boolean', 'timestamp'),
    'D', jsonb_build_array('timestamp', 'double precision', 'text'),
    'P', jsonb_build_array('double precision', 'text'),
    'I', jsonb_build_array('text'));
  convert jsonb := jsonb_build_object('T', 'jet.as_text', 'N', 'jet.as_number', 'D', 'jet.as_date',
                                      'P', 'jet.as_number', 'I', '');
  combos text[];
  next text[];
  combo text[];
  r text;
  k integer;
  j integer;
  t text;
  params text;
  args text;
BEGIN
  -- Every combination of argument types but the first, which is the function itself.
  FOR k IN 1 .. length(roles) LOOP
    r := substr(roles, k, 1);
    IF k = 1 THEN
      SELECT array_agg(x ORDER BY o) INTO combos FROM jsonb_array_elements_text(kinds -> r) WITH ORDINALITY AS e(x, o);
    ELSE
      next := ARRAY[]::text[];
      FOREACH t IN ARRAY combos LOOP
        SELECT next || array_agg(t || ',' || x ORDER BY o) INTO next
        FROM jsonb_array_elements_text(kinds -> r) WITH ORDINALITY AS e(x, o);
      END LOOP;
      combos := next;
    END IF;
  END LOOP;
  FOR k IN 2 .. coalesce(array_length(combos, 1), 0) LOOP
    combo := string_to_array(combos[k], ',');
    params := '';
    args := '';
    FOR j IN 1 .. length(roles) LOOP
      r := substr(roles, j, 1);
      params := params || CASE WHEN j > 1 THEN ', ' ELSE '' END || 'a' || j || ' ' || combo[j];
      args := args || CASE WHEN j > 1 THEN ', ' ELSE '' END || (convert ->> r) || '(a' || j || ')';
    END LOOP;
    EXECUTE format('CREATE OR REPLACE FUNCTION jet.%I(%s) RETURNS %s LANGUAGE sql IMMUTABLE PARALLEL SAFE'
                   ' AS $f$ SELECT jet.%I(%s) $f$', name, params, result, name, args);
  END LOOP;
END
$gen$;

SELECT jet.define_overloads('datediff', 'bigint', 'IDD');
SELECT jet.define_overloads('dateadd', 'timestamp', 'IND');
SELECT jet.define_overloads(f, 'integer', 'D') FROM unnest(ARRAY['year', 'month', 'day', 'hour', 'minute', 'second']) AS f;
SELECT jet.define_overloads('cdate', 'timestamp', 'D');
SELECT jet.define_overloads('concat', 'text', 'TT');
SELECT jet.define_overloads('mid', 'text', 'TP');
SELECT jet.define_overloads('mid', 'text', 'TPP');
SELECT jet.define_overloads(f, 'text', 'TP') FROM unnest(ARRAY['left', 'right']) AS f;
SELECT jet.define_overloads('len', 'bigint', 'T');
SELECT jet.define_overloads(f, 'text', 'T') FROM unnest(ARRAY['trim', 'ltrim', 'rtrim', 'ucase', 'lcase', 'cstr']) AS f;
SELECT jet.define_overloads('val', 'double precision', 'T');
SELECT jet.define_overloads('like', 'boolean', 'TT');
SELECT jet.define_overloads('round', 'double precision', 'N');
SELECT jet.define_overloads('round', 'double precision', 'NP');
SELECT jet.define_overloads(f, 'double precision', 'N') FROM unnest(ARRAY['int', 'fix', 'cdbl']) AS f;
SELECT jet.define_overloads('clng', 'integer', 'N');
SELECT jet.define_overloads(f, 'bigint', 'NN') FROM unnest(ARRAY['idiv', 'mod']) AS f;
SELECT jet.define_overloads('pow', 'double precision', 'NN');
DROP FUNCTION jet.define_overloads(text, text, text);

-- --- + and − where an operand may be a date --------------------------------

-- A date plus or minus a number of days, by day numbers as Jet counts them.
CREATE OR REPLACE FUNCTION jet.add(a timestamp, b double precision) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.from_daynumber(jet.to_daynumber(a) + b) $$;
CREATE OR REPLACE FUNCTION jet.add(a double precision, b timestamp) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.from_daynumber(a + jet.to_daynumber(b)) $$;
CREATE OR REPLACE FUNCTION jet.sub(a timestamp, b double precision) RETURNS timestamp
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.from_daynumber(jet.to_daynumber(a) - b) $$;
CREATE OR REPLACE FUNCTION jet.sub(a timestamp, b timestamp) RETURNS double precision
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT jet.to_daynumber(a) - jet.to_daynumber(b) $$;

-- Numbers as numbers; whole numbers widen rather than overflow.
DO $do$
DECLARE
  t text;
  r text;
BEGIN
  FOREACH t IN ARRAY ARRAY['integer', 'bigint', 'numeric', 'double precision'] LOOP
    r := CASE t WHEN 'integer' THEN 'bigint' ELSE t END;
    EXECUTE format('CREATE OR REPLACE FUNCTION jet.add(a %1$s, b %1$s) RETURNS %2$s LANGUAGE sql IMMUTABLE'
                   ' PARALLEL SAFE AS $f$ SELECT a::%2$s + b $f$', t, r);
    EXECUTE format('CREATE OR REPLACE FUNCTION jet.sub(a %1$s, b %1$s) RETURNS %2$s LANGUAGE sql IMMUTABLE'
                   ' PARALLEL SAFE AS $f$ SELECT a::%2$s - b $f$', t, r);
  END LOOP;
END
$do$;

-- Text + text joins as Jet's + does, Null staying Null.
CREATE OR REPLACE FUNCTION jet.add(a text, b text) RETURNS text
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT a || b $$;

-- Any other mix reads both operands as numbers (text that is one, Yes/No as
-- -1/0); beside a date the other operand is a number of days.
DO $do$
DECLARE
  a text;
  b text;
  op text;
  result text;
  body text;
BEGIN
  FOREACH a IN ARRAY ARRAY['double precision', 'text', 'boolean', 'timestamp'] LOOP
    FOREACH b IN ARRAY ARRAY['double precision', 'text', 'boolean', 'timestamp'] LOOP
      FOREACH op IN ARRAY ARRAY['add', 'sub'] LOOP
        CONTINUE WHEN a = 'timestamp' AND b = 'timestamp'
                   OR (a, b) IN (('double precision', 'double precision'), ('timestamp', 'double precision'))
                   OR (op = 'add' AND (a, b) IN (('text', 'text'), ('double precision', 'timestamp')))
                   OR (op = 'sub' AND b = 'timestamp');
        IF a = 'timestamp' THEN
          result := 'timestamp';
          body := format('jet.%s(a, jet.as_number(b))', op);
        ELSIF b = 'timestamp' THEN
          result := 'timestamp';
          body := 'jet.add(jet.as_number(a), b)';
        ELSE
          result := 'double precision';
          body := format('jet.as_number(a) %s jet.as_number(b)', CASE op WHEN 'add' THEN '+' ELSE '-' END);
        END IF;
        EXECUTE format('CREATE OR REPLACE FUNCTION jet.%s(a %s, b %s) RETURNS %s LANGUAGE sql IMMUTABLE'
                       ' PARALLEL SAFE AS $f$ SELECT %s $f$', op, a, b, result, body);
      END LOOP;
    END LOOP;
  END LOOP;
END
$do$;

-- --- Yes/No against Jet's -1 and 0 -----------------------------------------

-- A value beside others in IIf or Nz: Yes/No as Jet's number, the rest as it is.
CREATE OR REPLACE FUNCTION jet.value(a boolean) RETURNS integer
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT CASE WHEN a THEN -1 WHEN NOT a THEN 0 END $$;
CREATE OR REPLACE FUNCTION jet.value(a anyelement) RETURNS anyelement
LANGUAGE sql IMMUTABLE PARALLEL SAFE AS $$ SELECT a $$;

DO $do$
DECLARE
  t text;
  op text;
  fn text;
BEGIN
  -- The number decides first: inlined beside a literal -1 or 0 the
  -- comparison folds to the column itself or its NOT, which the planner
  -- estimates from the column's statistics and an index serves; compared as
  -- a number it would guess one row in two hundred.  Any other number
  -- matches neither Yes (-1) nor No (0); Null on either side gives Null.
  FOREACH t IN ARRAY ARRAY['smallint', 'integer', 'bigint', 'numeric', 'double precision'] LOOP
    FOREACH op IN ARRAY ARRAY['=', '<>'] LOOP
      fn := CASE op WHEN '=' THEN 'yesno_eq' ELSE 'yesno_ne' END;
      EXECUTE format('CREATE OR REPLACE FUNCTION jet.%1$s(a boolean, b %2$s) RETURNS boolean LANGUAGE sql'
                     ' IMMUTABLE PARALLEL SAFE AS $f$ SELECT CASE WHEN b = -1 THEN %3$s a WHEN b = 0 THEN %4$s a'
                     ' WHEN a IS NULL OR b IS NULL THEN NULL ELSE %5$s END $f$',
                     fn, t, CASE op WHEN '=' THEN '' ELSE 'NOT' END, CASE op WHEN '=' THEN 'NOT' ELSE '' END,
                     CASE op WHEN '=' THEN 'false' ELSE 'true' END);
      EXECUTE format('CREATE OR REPLACE FUNCTION jet.%1$s(a %2$s, b boolean) RETURNS boolean LANGUAGE sql'
                     ' IMMUTABLE PARALLEL SAFE AS $f$ SELECT jet.%1$s(b, a) $f$',
                     fn, t);
      IF NOT EXISTS (SELECT FROM pg_operator o JOIN pg_namespace n ON n.oid = o.oprnamespace
                     WHERE n.nspname = 'jet' AND o.oprname = op
                       AND o.oprleft = 'boolean'::regtype AND o.oprright = t::regtype AND o.oprcode <> 0) THEN
        EXECUTE format('CREATE OPERATOR jet.%1$s (LEFTARG = boolean, RIGHTARG = %2$s, FUNCTION = jet.%3$s,'
                       ' COMMUTATOR = OPERATOR(jet.%1$s), NEGATOR = OPERATOR(jet.%4$s),'
                       ' RESTRICT = %5$s, JOIN = %6$s)',
                       op, t, fn, CASE op WHEN '=' THEN '<>' ELSE '=' END,
                       CASE op WHEN '=' THEN 'eqsel' ELSE 'neqsel' END,
                       CASE op WHEN '=' THEN 'eqjoinsel' ELSE 'neqjoinsel' END);
      END IF;
      IF NOT EXISTS (SELECT FROM pg_operator o JOIN pg_namespace n ON n.oid = o.oprnamespace
                     WHERE n.nspname = 'jet' AND o.oprname = op
                       AND o.oprleft = t::regtype AND o.oprright = 'boolean'::regtype AND o.oprcode <> 0) THEN
        EXECUTE format('CREATE OPERATOR jet.%1$s (LEFTARG = %2$s, RIGHTARG = boolean, FUNCTION = jet.%3$s,'
                       ' COMMUTATOR = OPERATOR(jet.%1$s), NEGATOR = OPERATOR(jet.%4$s),'
                       ' RESTRICT = %5$s, JOIN = %6$s)',
                       op, t, fn, CASE op WHEN '=' THEN '<>' ELSE '=' END,
                       CASE op WHEN '=' THEN 'eqsel' ELSE 'neqsel' END,
                       CASE op WHEN '=' THEN 'eqjoinsel' ELSE 'neqjoinsel' END);
      END IF;
    END LOOP;
  END LOOP;
END
$do$;

-- --- change announcements --------------------------------------------------

-- Every table of the ledger runs this after each statement that changes it,
-- so that the program's lists on the other workstations hear of the change
-- once it is committed (a rolled-back transaction announces nothing).  The
-- payload is the table's name; the server sends one notice per table and
-- transaction however many statements changed it.
CREATE OR REPLACE FUNCTION jet.announce_change() RETURNS trigger
LANGUAGE plpgsql AS $$
BEGIN
  PERFORM pg_notify('jet_data_changed', TG_TABLE_NAME);
  RETURN NULL;
END
$$;

-- The edition of these functions, which the program compares with its own
-- when it opens a ledger made or last brought up to date by another version:
-- change it with every change of this file.
COMMENT ON SCHEMA jet IS 'jet functions 2026-12-11';
