-- The staff accounts and the audit trail on a PostgreSQL server, installed
-- and replaced in place by the database's owner (accounts::updateServerRoles).
--
-- Each account logs in as a role of its own, "<prefix>.<login ID>", member
-- of its job's group role "<prefix>_nurse" and the like, which are members
-- of "<prefix>_staff".  The prefix is the database's name where that is a
-- plain name, so that the roles of two ledgers on one cluster never meet.
-- The rights table is turned into grants to the job groups; the server
-- itself refuses what a role may not do, also to psql.  The trail and the
-- change history are written only through the functions below, which run
-- as the owner: the accounts' roles may append and never rewrite.
--
-- Whatever changes roles runs as the owner, who needs CREATEROLE, under one
-- lock: the catalogue refuses two grants to one object at once.
--
-- Before anyone logs in, the workstations connect as the gate role
-- "<prefix>_gate", whose password the hospital's IT gives them.  It reads
-- only what the program's start reads (the tables marked before_login) and
-- logs in through the functions granted to it below: it reads no patient,
-- no password hash and no second factor, and writes only what a failed
-- login writes.  The password itself is proved to the server, as the
-- account's own role; what the login reads after that, it reads as that role.

DO $$
BEGIN
    IF to_regnamespace('norva') IS NULL THEN
        CREATE SCHEMA norva;
    END IF;
END
$$;
COMMENT ON SCHEMA norva IS 'ネモリア 職員ロール 2';

CREATE TABLE IF NOT EXISTS norva.settings (role_prefix text NOT NULL);
INSERT INTO norva.settings (role_prefix)
SELECT CASE WHEN current_database() ~ '^[a-z_][a-z0-9_]{0,29}$' THEN current_database()
            ELSE 'norva_' || left(md5(current_database()), 8) END
 WHERE NOT EXISTS (SELECT FROM norva.settings);

-- What each group may do with each table, written by the program from its
-- table map: right_name NULL for every account.
CREATE TABLE IF NOT EXISTS norva.table_rights (
    table_name text NOT NULL,
    privilege text NOT NULL CHECK (privilege IN ('SELECT', 'INSERT', 'UPDATE', 'DELETE')),
    right_name text,
    columns text[]
);
-- Granted to the gate role rather than to the accounts.
ALTER TABLE norva.table_rights ADD COLUMN IF NOT EXISTS before_login boolean NOT NULL DEFAULT false;

CREATE OR REPLACE FUNCTION norva.prefix() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT role_prefix FROM norva.settings LIMIT 1
$$;

CREATE OR REPLACE FUNCTION norva.account_role(login_id text) RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT norva.prefix() || '.' || lower(login_id)
$$;

CREATE OR REPLACE FUNCTION norva.jobs() RETURNS text[]
LANGUAGE sql IMMUTABLE AS $$
    SELECT ARRAY['管理者', '医師', '看護師', '精神保健福祉士', '事務']
$$;

-- NULL for a job the program does not know: such an account joins no group.
CREATE OR REPLACE FUNCTION norva.job_role(job text) RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT norva.prefix() || '_' || CASE job WHEN '管理者' THEN 'administrator' WHEN '医師' THEN 'physician'
                                             WHEN '看護師' THEN 'nurse' WHEN '精神保健福祉士' THEN 'social_worker'
                                             WHEN '事務' THEN 'clerk' END
$$;

CREATE OR REPLACE FUNCTION norva.staff_role() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT norva.prefix() || '_staff'
$$;

CREATE OR REPLACE FUNCTION norva.gate_role() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT norva.prefix() || '_gate'
$$;

-- The login ID of the session's account; NULL for the owner and any role
-- that is not an account of this database.
CREATE OR REPLACE FUNCTION norva.login_id() RETURNS text
LANGUAGE sql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
    SELECT CASE WHEN starts_with(session_user::text, norva.prefix() || '.')
                THEN substr(session_user::text, length(norva.prefix()) + 2) END
$$;

-- Creates a role of this database, or adopts the one there, and sets
-- whether it may log in.  A role of that name that is not this database's
-- is never taken over.
CREATE OR REPLACE FUNCTION norva.ensure_role(p_role text, p_title text, p_login boolean) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    mark text := 'ネモリア ' || norva.prefix() || ': ';
    existing pg_roles;
BEGIN
    SELECT * INTO existing FROM pg_roles WHERE rolname = p_role;
    IF NOT FOUND THEN
        EXECUTE format('CREATE ROLE %I %s', p_role, CASE WHEN p_login THEN 'LOGIN' ELSE 'NOLOGIN' END);
        EXECUTE format('COMMENT ON ROLE %I IS %L', p_role, mark || p_title);
        RETURN;
    END IF;
    IF NOT starts_with(coalesce(shobj_description(existing.oid, 'pg_authid'), ''), mark) THEN
        RAISE EXCEPTION 'ロール % は既にあり、このデータベース (%) のものではありません。', p_role, current_database()
            USING ERRCODE = '42710';
    END IF;
    IF existing.rolcanlogin <> p_login THEN
        EXECUTE format('ALTER ROLE %I %s', p_role, CASE WHEN p_login THEN 'LOGIN' ELSE 'NOLOGIN' END);
    END IF;
END
$$;

CREATE OR REPLACE FUNCTION norva.is_member(p_member text, p_group text) RETURNS boolean
LANGUAGE sql STABLE AS $$
    SELECT EXISTS (SELECT FROM pg_catalog.pg_auth_members m
                     JOIN pg_catalog.pg_roles r ON r.oid = m.roleid
                     JOIN pg_catalog.pg_roles u ON u.oid = m.member
                    WHERE r.rolname = p_group AND u.rolname = p_member)
$$;

-- An account's role as its row says: logging in only while active (a
-- locked or disabled account's role is refused by the server too), member
-- of its job's group and of no other.
CREATE OR REPLACE FUNCTION norva.sync_account(p_login text, p_job text, p_state text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    account text := norva.account_role(p_login);
    other text;
BEGIN
    PERFORM pg_advisory_xact_lock(hashtext('norva roles'));
    PERFORM norva.ensure_role(account, 'アカウント ' || p_login, p_state = '有効');
    FOREACH other IN ARRAY norva.jobs() LOOP
        IF other = p_job AND NOT norva.is_member(account, norva.job_role(other)) THEN
            PERFORM norva.ensure_role(norva.job_role(other), other, false);
            EXECUTE format('GRANT %I TO %I', norva.job_role(other), account);
        ELSIF other IS DISTINCT FROM p_job AND norva.is_member(account, norva.job_role(other)) THEN
            EXECUTE format('REVOKE %I FROM %I', norva.job_role(other), account);
        END IF;
    END LOOP;
END
$$;

-- The grants that the rights table and the table map give, made anew.
CREATE OR REPLACE FUNCTION norva.grant_rights() RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    staff text := norva.staff_role();
    gate text := norva.gate_role();
    job text;
    grantee text;
    callable text;
    g record;
    allowed text := 'SELECT NULL::text, NULL::text WHERE false';
BEGIN
    PERFORM pg_advisory_xact_lock(hashtext('norva roles'));
    PERFORM norva.ensure_role(staff, '職員全員', false);
    -- Its password is set by the hospital's IT (scripts/pg-setup); until
    -- then the server lets nobody in as the gate.
    PERFORM norva.ensure_role(gate, 'ログイン前の端末', true);
    FOREACH job IN ARRAY norva.jobs() LOOP
        PERFORM norva.ensure_role(norva.job_role(job), job, false);
        IF NOT norva.is_member(norva.job_role(job), staff) THEN
            EXECUTE format('GRANT %I TO %I', staff, norva.job_role(job));
        END IF;
    END LOOP;
    FOR grantee IN SELECT staff UNION ALL SELECT gate UNION ALL SELECT norva.job_role(j) FROM unnest(norva.jobs()) j LOOP
        EXECUTE format('REVOKE ALL ON ALL TABLES IN SCHEMA public FROM %I', grantee);
    END LOOP;
    IF to_regclass('public."役割権限"') IS NOT NULL THEN
        allowed := 'SELECT "役割", "権限" FROM public."役割権限" WHERE "許可"';
    END IF;
    FOR g IN EXECUTE format(
        'SELECT t.table_name, t.privilege, t.columns,
                CASE WHEN t.before_login THEN $2 ELSE coalesce(norva.job_role(a.job_name), $1) END AS grantee
           FROM norva.table_rights t LEFT JOIN (%s) AS a (job_name, right_name) ON a.right_name = t.right_name
          WHERE (t.right_name IS NULL OR norva.job_role(a.job_name) IS NOT NULL)
            AND to_regclass(format(''public.%%I'', t.table_name)) IS NOT NULL', allowed) USING staff, gate
    LOOP
        EXECUTE format('GRANT %s%s ON public.%I TO %I', g.privilege,
                       coalesce(' (' || (SELECT string_agg(quote_ident(c), ', ') FROM unnest(g.columns) c) || ')', ''),
                       g.table_name, g.grantee);
    END LOOP;
    -- The engine's texts of the stored queries.
    IF to_regclass('public.jet_queries') IS NOT NULL THEN
        EXECUTE format('GRANT SELECT ON public.jet_queries TO %I', staff);
    END IF;
    EXECUTE format('GRANT USAGE, SELECT ON ALL SEQUENCES IN SCHEMA public TO %I', staff);
    IF to_regnamespace('jet') IS NOT NULL THEN
        -- The start looks up the engine's functions; they run with their
        -- caller's rights, so the gate reads no more through them.
        EXECUTE format('GRANT USAGE ON SCHEMA jet TO %I, %I', staff, gate);
        EXECUTE format('GRANT EXECUTE ON ALL FUNCTIONS IN SCHEMA jet TO %I', staff);
    END IF;
    FOREACH callable IN ARRAY ARRAY['prefix()', 'account_role(text)', 'login_id()', 'set_password(text, text)',
                                    'append_event(text, text, text, text, text, bigint, bigint, text)',
                                    'append_history(text, text, text, text, text, text, text, bigint, bigint)'] LOOP
        EXECUTE format('GRANT EXECUTE ON FUNCTION norva.%s TO %I', callable, staff);
    END LOOP;
    -- The login's own steps, which a locked workstation's account takes too
    -- when someone else logs in over it.
    FOREACH callable IN ARRAY ARRAY['prefix()', 'account_role(text)', 'has_accounts()', 'has_copied_password(text)',
                                    'lock_end(text, timestamp)', 'count_failure(text, timestamp)',
                                    'append_failed_login(text, text, text, text, text, text)'] LOOP
        EXECUTE format('GRANT EXECUTE ON FUNCTION norva.%s TO %I, %I', callable, staff, gate);
    END LOOP;
END
$$;

-- The password of an account's role, as its SCRAM verifier: the password
-- itself never travels.  The owner, the account itself and whoever may
-- administer accounts may set it.
CREATE OR REPLACE FUNCTION norva.set_password(p_login text, p_verifier text) RETURNS void
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    account text := norva.account_role(p_login);
BEGIN
    IF NOT starts_with(p_verifier, 'SCRAM-SHA-256$') THEN
        RAISE EXCEPTION 'パスワードは SCRAM-SHA-256 の検証子で渡してください。' USING ERRCODE = '22023';
    END IF;
    IF norva.login_id() IS NOT NULL AND norva.login_id() <> lower(p_login)
       AND NOT has_table_privilege(session_user, 'public."役割権限"', 'UPDATE') THEN
        RAISE EXCEPTION 'ほかのアカウントのパスワードを設定する権限がありません。' USING ERRCODE = '42501';
    END IF;
    IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = account) THEN
        RAISE EXCEPTION 'アカウント % のロール % がサーバーにありません。', p_login, account USING ERRCODE = '42704';
    END IF;
    EXECUTE format('ALTER ROLE %I PASSWORD %L', account, p_verifier);
    -- A file's hash copied with the account would otherwise still be taken
    -- for its password.
    IF to_regclass('public."職員"') IS NOT NULL THEN
        UPDATE public."職員" SET "パスワード" = NULL WHERE "ログインID" = lower(p_login) AND "パスワード" <> '';
    END IF;
END
$$;

-- Whether the database has any account: the first start asks for the
-- first administrator when it has none.
CREATE OR REPLACE FUNCTION norva.has_accounts() RETURNS boolean
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    RETURN EXISTS (SELECT FROM public."職員");
END
$$;

-- Whether the account came from a file with its file's password hash,
-- which is checked once and then made its role's password: the hash itself
-- is for the owner and the account only.
CREATE OR REPLACE FUNCTION norva.has_copied_password(p_login text) RETURNS boolean
LANGUAGE plpgsql STABLE SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    RETURN EXISTS (SELECT FROM public."職員" WHERE "ログインID" = lower(p_login) AND "パスワード" <> '');
END
$$;

-- Before the password is tried: the end of the account's lock, NULL when
-- it is not locked or there is no such account, so that the gate learns of
-- an ID no more than the login window says.  A lock whose time has passed
-- is lifted here, in its own transaction, so that the server lets the role
-- in again; the earlier of the workstation's clock and the server's
-- decides, so that no caller lifts a lock early by the time it gives.
CREATE OR REPLACE FUNCTION norva.lock_end(p_login text, p_now timestamp) RETURNS timestamp
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    until timestamp;
BEGIN
    SELECT "ロック解除時刻" INTO until FROM public."職員" WHERE "ログインID" = lower(p_login) AND "状態" = 'ロック';
    IF NOT FOUND THEN
        RETURN NULL;
    END IF;
    IF until IS NOT NULL AND until > least(p_now, localtimestamp) THEN
        RETURN until;
    END IF;
    UPDATE public."職員" SET "状態" = '有効', "失敗回数" = 0, "ロック解除時刻" = NULL WHERE "ログインID" = lower(p_login);
    RETURN NULL;
END
$$;

-- A failed login of an active account: its count, and its lock once the
-- count reaches the administrators' limit.  Returns the lock's end, NULL
-- while the account is not locked.  The lock runs from the earlier of the
-- workstation's clock and the server's, so that no caller locks an account
-- for longer than the limit by the time it gives.
CREATE OR REPLACE FUNCTION norva.count_failure(p_login text, p_now timestamp) RETURNS timestamp
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    failures integer;
    most integer;
    minutes integer;
    until timestamp;
BEGIN
    UPDATE public."職員" SET "失敗回数" = "失敗回数" + 1 WHERE "ログインID" = lower(p_login) AND "状態" = '有効'
    RETURNING "失敗回数" INTO failures;
    IF NOT FOUND THEN
        RETURN NULL;
    END IF;
    SELECT "ロック回数", "ロック分" INTO most, minutes FROM public."職員管理設定" ORDER BY "設定ID" LIMIT 1;
    IF failures < coalesce(most, 5) THEN
        RETURN NULL;
    END IF;
    until := least(p_now, localtimestamp) + make_interval(mins => coalesce(minutes, 15));
    UPDATE public."職員" SET "状態" = 'ロック', "ロック解除時刻" = until WHERE "ログインID" = lower(p_login);
    RETURN until;
END
$$;

-- The trail's 「ログイン失敗」 and nothing else.  The login ID is kept only
-- when it names an account, so that a password typed into the ID's box is
-- never written down.
CREATE OR REPLACE FUNCTION norva.append_failed_login(p_login text, p_reason text, p_time text, p_account text,
                                                     p_workstation text, p_version text) RETURNS void
LANGUAGE plpgsql VOLATILE SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    PERFORM norva.append_event(p_time, p_account, p_workstation, p_version, 'ログイン失敗', NULL, NULL,
        CASE WHEN EXISTS (SELECT FROM public."職員" WHERE "ログインID" = lower(p_login))
             THEN format('ログインID %s: %s', p_login, p_reason)
             ELSE format('登録のないログインID: %s', p_reason) END);
END
$$;

-- The bytes of one value as the trail's hash covers them: "-" for Null,
-- otherwise the UTF-8 length, ":" and the text.
CREATE OR REPLACE FUNCTION norva.hash_part(p_value text) RETURNS text
LANGUAGE sql IMMUTABLE AS $$
    SELECT CASE WHEN p_value IS NULL THEN '-' ELSE octet_length(convert_to(p_value, 'UTF8'))::text || ':' || p_value END
$$;

-- Appends one event to the trail, its number and hash following the head
-- row, which is locked until the caller's transaction ends.  The account
-- of a session logged in as an account's role is that account, whatever
-- the caller says.
CREATE OR REPLACE FUNCTION norva.append_event(p_time text, p_account text, p_workstation text, p_version text,
                                              p_action text, p_chart bigint, p_episode bigint, p_detail text)
RETURNS bigint
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
DECLARE
    previous_count bigint;
    previous_hash text;
    who text := coalesce(norva.login_id(), p_account);
    hash text;
BEGIN
    SELECT "件数", "ハッシュ" INTO previous_count, previous_hash FROM public."監査記録先頭" FOR UPDATE;
    IF NOT FOUND THEN
        RAISE EXCEPTION '監査記録の先頭の行がありません。';
    END IF;
    hash := encode(sha256(convert_to(
        norva.hash_part((previous_count + 1)::text) || norva.hash_part(p_time) || norva.hash_part(who)
        || norva.hash_part(p_workstation) || norva.hash_part(p_version) || norva.hash_part(p_action)
        || norva.hash_part(p_chart::text) || norva.hash_part(p_episode::text) || norva.hash_part(p_detail)
        || previous_hash, 'UTF8')), 'hex');
    INSERT INTO public."監査記録" ("記録番号", "時刻", "アカウント", "端末", "版", "操作", "カルテID", "入退院ID", "詳細", "ハッシュ")
    VALUES (previous_count + 1, p_time, who, p_workstation, p_version, p_action, p_chart, p_episode, p_detail, hash);
    UPDATE public."監査記録先頭" SET "件数" = previous_count + 1, "ハッシュ" = hash;
    RETURN previous_count + 1;
END
$$;

CREATE OR REPLACE FUNCTION norva.append_history(p_time text, p_account text, p_change text, p_table text, p_key text,
                                                p_column text, p_before text, p_chart bigint, p_episode bigint) RETURNS void
-- PL/pgSQL, whose tables are looked up when it runs: the accounts may come
-- before the trail.
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    INSERT INTO public."変更履歴" ("時刻", "アカウント", "変更", "表", "キー", "列", "旧値", "カルテID", "入退院ID")
    VALUES (p_time, coalesce(norva.login_id(), p_account), p_change, p_table, p_key, p_column, p_before, p_chart,
            p_episode);
END
$$;

CREATE OR REPLACE FUNCTION norva.account_changed() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    IF TG_OP = 'DELETE' THEN
        PERFORM norva.sync_account(OLD."ログインID", NULL, '無効');
        RETURN OLD;
    END IF;
    IF TG_OP = 'INSERT' OR OLD."役割" IS DISTINCT FROM NEW."役割" OR OLD."状態" IS DISTINCT FROM NEW."状態" THEN
        PERFORM norva.sync_account(NEW."ログインID", NEW."役割", NEW."状態");
    END IF;
    RETURN NEW;
END
$$;

CREATE OR REPLACE FUNCTION norva.rights_changed() RETURNS trigger
LANGUAGE plpgsql SECURITY DEFINER SET search_path = pg_catalog AS $$
BEGIN
    PERFORM norva.grant_rights();
    RETURN NULL;
END
$$;

-- Whoever starts the program may see whether the server's side is current;
-- only the accounts' roles call what appends, through their staff group.
REVOKE ALL ON ALL FUNCTIONS IN SCHEMA norva FROM PUBLIC;
REVOKE ALL ON ALL TABLES IN SCHEMA norva FROM PUBLIC;
GRANT USAGE ON SCHEMA norva TO PUBLIC;
GRANT SELECT ON norva.settings, norva.table_rights TO PUBLIC;

-- The accounts' tables, where the database has them: every change of an
-- account or of the rights reaches the roles in the same transaction.  An
-- account reads and writes its own row only, unless it may administer
-- accounts (UPDATE on the rights table, a grant of the right Accounts).
DO $$
BEGIN
    IF to_regclass('public."職員"') IS NULL THEN
        RETURN;
    END IF;
    DROP TRIGGER IF EXISTS norva_account ON public."職員";
    CREATE TRIGGER norva_account AFTER INSERT OR UPDATE OR DELETE ON public."職員"
        FOR EACH ROW EXECUTE FUNCTION norva.account_changed();
    DROP TRIGGER IF EXISTS norva_rights ON public."役割権限";
    CREATE TRIGGER norva_rights AFTER INSERT OR UPDATE OR DELETE ON public."役割権限"
        FOR EACH STATEMENT EXECUTE FUNCTION norva.rights_changed();
    ALTER TABLE public."職員" ENABLE ROW LEVEL SECURITY;
    DROP POLICY IF EXISTS own ON public."職員";
    CREATE POLICY own ON public."職員" USING ("ログインID" = norva.login_id());
    DROP POLICY IF EXISTS administrators ON public."職員";
    CREATE POLICY administrators ON public."職員" USING (has_table_privilege('public."役割権限"', 'UPDATE'));
END
$$;
